// Picture statistics, profiles and reading pictures from bitmap files.
#include "panel/picture.h"

#include <gmock/gmock.h>

#include "panel/bitmap_template.h"
#include "platform/base/little_endian.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using panel::Picture;
using testing::ElementsAre;
using testing::HasSubstr;

// An 8-bit bitmap with the given rows as shown (top first); `bottom_up` stores them as a
// positive height does.
std::string Bitmap(int width, const std::vector<std::vector<std::uint8_t>>& rows,
                   bool bottom_up = true) {
    std::string bytes(panel::kDefaultBitmapHeader.begin(), panel::kDefaultBitmapHeader.end());
    const int height = static_cast<int>(rows.size());
    auto put = [&](std::size_t at, std::uint32_t v) {
        base::PutLe32(reinterpret_cast<std::uint8_t*>(bytes.data()) + at, v);
    };
    put(18, static_cast<std::uint32_t>(width));
    put(22, static_cast<std::uint32_t>(bottom_up ? height : -height));
    const int stride = (width + 3) / 4 * 4;
    for (int i = 0; i < height; ++i) {
        const auto& row = rows[static_cast<std::size_t>(bottom_up ? height - 1 - i : i)];
        std::string stored(static_cast<std::size_t>(stride), '\x77');  // padding is not picture
        std::copy(row.begin(), row.end(), stored.begin());
        bytes += stored;
    }
    return bytes;
}

base::Result<Picture> Decode(const std::string& bytes) {
    return panel::DecodeBitmap(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(PictureStatsTest, ExactFromTheHistogram) {
    const std::uint8_t pixels[] = {0, 255, 0, 255};
    panel::PictureStats s = panel::ComputeStats(pixels, 4, 2, 2);
    EXPECT_EQ(s.min, 0);
    EXPECT_EQ(s.max, 255);
    EXPECT_DOUBLE_EQ(s.mean, 127.5);
    EXPECT_DOUBLE_EQ(s.stddev, 127.5);  // of the population, not the sample (147.22)
    EXPECT_EQ(s.zeros, 2u);
    EXPECT_EQ(s.saturated, 2u);
    EXPECT_EQ(s.histogram[0], 2u);
    EXPECT_EQ(s.histogram[255], 2u);

    const std::uint8_t ramp[] = {2, 4, 4, 4, 5, 5, 7, 9};
    s = panel::ComputeStats(ramp, 8, 8, 1);
    EXPECT_EQ(s.min, 2);
    EXPECT_EQ(s.max, 9);
    EXPECT_DOUBLE_EQ(s.mean, 5.0);
    EXPECT_DOUBLE_EQ(s.stddev, 2.0);
    EXPECT_EQ(s.zeros, 0u);
    EXPECT_EQ(panel::TwoDecimals(s.mean), "5.00");
    EXPECT_EQ(panel::TwoDecimals(2.0 / 3.0), "0.67");

    // A large uniform picture: no rounding drift, the deviation exactly 0.
    std::vector<std::uint8_t> big(5'000'000, 201);
    s = panel::ComputeStats(big.data(), big.size(), 5000, 1000);
    EXPECT_EQ(s.mean, 201.0);
    EXPECT_EQ(s.stddev, 0.0);

    s = panel::ComputeStats(nullptr, 0, 0, 0);
    EXPECT_EQ(s.min, 0);
    EXPECT_EQ(s.max, 0);
    EXPECT_EQ(s.mean, 0.0);
}

TEST(PictureTest, ShownTopDownWhicheverWayTheRowsAreStored) {
    // Width 3: rows padded to 4 bytes in the file.
    const std::vector<std::vector<std::uint8_t>> rows = {{1, 2, 3}, {4, 5, 6}};
    for (const bool bottom_up : {true, false}) {
        base::Result<Picture> p = Decode(Bitmap(3, rows, bottom_up));
        ASSERT_TRUE(p.ok()) << p.message();
        EXPECT_EQ(p->width, 3);
        EXPECT_EQ(p->height, 2);
        EXPECT_THAT(p->pixels, ElementsAre(1, 2, 3, 4, 5, 6));
        EXPECT_EQ(*panel::Probe(*p, 0, 0), 1);
        EXPECT_EQ(*panel::Probe(*p, 2, 1), 6);
        EXPECT_THAT(panel::RowProfile(*p, 1), ElementsAre(4, 5, 6));
        EXPECT_THAT(panel::ColumnProfile(*p, 2), ElementsAre(3, 6));
    }
    const Picture p = *Decode(Bitmap(3, rows));
    for (const auto& [x, y] : std::vector<std::pair<long long, long long>>{
             {3, 0}, {0, 2}, {-1, 0}, {0, -1}, {1LL << 40, 0}}) {
        const auto v = panel::Probe(p, x, y);
        ASSERT_FALSE(v.ok());
        EXPECT_THAT(v.message(), HasSubstr("outside the picture of 3 x 2 pixels"));
    }
    EXPECT_TRUE(panel::RowProfile(p, 2).empty());
    EXPECT_TRUE(panel::ColumnProfile(p, -1).empty());
}

TEST(PictureTest, DamagedBitmapsAreRefusedWithAReason) {
    const std::string good = Bitmap(4, {{1, 2, 3, 4}, {5, 6, 7, 8}});
    EXPECT_THAT(Decode(good.substr(0, 40)).message(), HasSubstr("too short"));
    EXPECT_THAT(Decode(good.substr(0, good.size() - 1)).message(), HasSubstr("run past the end"));
    std::string bad = good;
    bad[0] = 'X';
    EXPECT_THAT(Decode(bad).message(), HasSubstr("no BM signature"));
    bad = good;
    bad[28] = 24;
    EXPECT_THAT(Decode(bad).message(), HasSubstr("not an uncompressed 8-bit bitmap"));
    bad = good;
    base::PutLe32(reinterpret_cast<std::uint8_t*>(bad.data()) + 18, 0);
    EXPECT_THAT(Decode(bad).message(), HasSubstr("bad picture size"));
    bad = good;
    base::PutLe32(reinterpret_cast<std::uint8_t*>(bad.data()) + 22, 0x80000000u);
    EXPECT_FALSE(Decode(bad).ok());
    bad = good;
    base::PutLe32(reinterpret_cast<std::uint8_t*>(bad.data()) + 10, 0xFFFFFFF0u);
    EXPECT_FALSE(Decode(bad).ok());
    bad = good;  // a huge height the file cannot hold
    base::PutLe32(reinterpret_cast<std::uint8_t*>(bad.data()) + 22, 0x7FFFFFFF);
    EXPECT_THAT(Decode(bad).message(), HasSubstr("run past the end"));

    TempDir dir;
    EXPECT_THAT(panel::ReadBitmapPicture("image.bmp").message(),
                HasSubstr("\"image.bmp\" does not exist"));
    ASSERT_TRUE(WriteFile("image.bmp", "BM"));
    EXPECT_THAT(panel::ReadBitmapPicture("image.bmp").message(),
                HasSubstr("\"image.bmp\" is unusable: too short"));
}

TEST(PictureTest, StreamRowsAsCaptureStoresThem) {
    // Two stream rows of 3 + 1 bytes: the extra byte is dropped, the first row read is shown
    // at the bottom.
    const std::uint8_t stream[] = {1, 2, 3, 99, 4, 5, 6, 99};
    Picture p;
    panel::PictureFromStream(stream, 3, 2, true, &p);
    EXPECT_THAT(p.pixels, ElementsAre(4, 5, 6, 1, 2, 3));
    panel::PictureFromStream(stream, 3, 2, false, &p);  // one run: rows 1 2 3 / 99 4 5
    EXPECT_THAT(p.pixels, ElementsAre(99, 4, 5, 1, 2, 3));
}

}  // namespace
}  // namespace panel_test
