// A module's bitmap and the pictures made over it: loaded from the module's resources, described,
// lent to a picture (the caller keeps it) or given to one (the picture keeps it after the
// bitmap's owner is gone).
#include "platform/ctl/picture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "platform/ui/window_handles.h"

namespace {

// The picture rendered over a 48 x 44 image: the bitmap at twice its size.
QImage Rendered(CPictureHolder& picture) {
    QImage image(48, 44, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    ui::DeviceContext dc(&painter);
    CDC cdc(dc.handle());
    const RECT all{0, 0, 48, 44};
    picture.Render(&cdc, all, all);
    return image;
}

TEST(Pictures, ABitmapOfAModuleLentOrGivenToAPicture) {
    // A module that carries the control's resources; any address inside it names it.
    void* lib = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const HINSTANCE instance = dlsym(lib, "TestModuleMarker");
    ASSERT_NE(instance, nullptr);

    CBitmap missing;
    BITMAP bmp{};
    EXPECT_FALSE(missing.LoadBitmap(instance, 99));
    EXPECT_EQ(missing.GetBitmap(&bmp), 0);
    CPictureHolder none;
    EXPECT_FALSE(none.CreateFromBitmap(&missing, FALSE));
    EXPECT_TRUE(none.IsEmpty());

    CBitmap bitmap;
    ASSERT_TRUE(bitmap.LoadBitmap(instance, 1));
    ASSERT_EQ(bitmap.GetBitmap(&bmp), int(sizeof bmp));
    EXPECT_EQ(bmp.bmWidth, 24);
    EXPECT_EQ(bmp.bmHeight, 22);
    CPictureHolder lent;
    ASSERT_TRUE(lent.CreateFromBitmap(&bitmap, FALSE));
    EXPECT_EQ(bitmap.GetBitmap(&bmp), int(sizeof bmp));  // still the caller's
    const QImage expected = Rendered(lent);
    EXPECT_NE(expected.pixel(0, 0), 0u);

    CPictureHolder given;
    {
        CBitmap owner;
        ASSERT_TRUE(owner.LoadBitmap(instance, 1));
        ASSERT_TRUE(given.CreateFromBitmap(&owner, TRUE));
        EXPECT_EQ(owner.GetBitmap(&bmp), 0);  // the picture took it
    }
    EXPECT_EQ(given.GetWidth(), 24);
    EXPECT_EQ(Rendered(given), expected);
    dlclose(lib);
}

}  // namespace
