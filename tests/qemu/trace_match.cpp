// Holds QEMU's device-side log of its parallel port against port traces (PORTIO_TRACE) of runs
// made one after the other in the guest. Each trace's cycles, from its first to its last, must
// appear in the device log as one unbroken run: the same port, direction and value, in the same
// order, with nothing added or missing. Device cycles before a trace's first cycle (the driver
// probing or claiming the port) are not compared. 0x077a (the ECR) is left out of the traces:
// QEMU's port has no ECR, so such a cycle reaches no device.
//
// Usage: qemu_trace_match DEVICE_LOG NAME=TRACE...
// Exit status: 0 when every trace matches, 1 on a difference (described on standard output),
// 2 when a file cannot be read or holds a line that is not a cycle.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned kBase = 0x378;
constexpr unsigned kEcr = 0x77a;

struct Cycle {
    bool write = false;
    unsigned port = 0;
    unsigned value = 0;
    std::size_t line = 0;  // in its file
    bool operator==(const Cycle& o) const {
        return write == o.write && port == o.port && value == o.value;
    }
};

std::string Text(const Cycle& c) {
    char text[40];
    std::snprintf(text, sizeof text, "%s 0x%04x 0x%02x", c.write ? "out8" : "in8", c.port, c.value);
    return text;
}

bool ParseHex(const std::string& word, unsigned* value) {
    if (word.size() < 3 || word.compare(0, 2, "0x") != 0) return false;
    std::size_t used = 0;
    try {
        const unsigned long v = std::stoul(word.substr(2), &used, 16);
        if (used != word.size() - 2 || v > 0xFFFF) return false;
        *value = static_cast<unsigned>(v);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// QEMU's lines: "parallel_ioport_write write [SW] addr 0x02 val 0x0c" (addr from the base).
bool ReadDeviceLog(const std::string& path, std::vector<Cycle>* cycles) {
    std::ifstream in(path);
    if (!in) {
        std::cout << "cannot read the device log " << path << "\n";
        return false;
    }
    std::string line;
    for (std::size_t n = 1; std::getline(in, line); ++n) {
        const bool read = line.find("parallel_ioport_read") != std::string::npos;
        const bool write = line.find("parallel_ioport_write") != std::string::npos;
        if (!read && !write) continue;
        const std::size_t addr = line.find(" addr ");
        const std::size_t val = line.find(" val ");
        Cycle c;
        c.write = write;
        c.line = n;
        std::istringstream a(addr == std::string::npos ? "" : line.substr(addr + 6));
        std::istringstream v(val == std::string::npos ? "" : line.substr(val + 5));
        std::string aw, vw;
        a >> aw;
        v >> vw;
        unsigned offset = 0;
        if (!ParseHex(aw, &offset) || !ParseHex(vw, &c.value) || offset > 7 || c.value > 0xFF) {
            std::cout << path << ":" << n << ": not a parallel-port cycle: " << line << "\n";
            return false;
        }
        c.port = kBase + offset;
        cycles->push_back(c);
    }
    return true;
}

bool ReadTrace(const std::string& path, std::vector<Cycle>* cycles) {
    std::ifstream in(path);
    if (!in) {
        std::cout << "cannot read the port trace " << path << "\n";
        return false;
    }
    std::string line;
    for (std::size_t n = 1; std::getline(in, line); ++n) {
        std::istringstream words(line);
        std::string op, port, value, rest;
        words >> op >> port >> value >> rest;
        Cycle c;
        c.line = n;
        c.write = op == "out8";
        if ((op != "out8" && op != "in8") || !ParseHex(port, &c.port) ||
            !ParseHex(value, &c.value) || c.value > 0xFF || !rest.empty()) {
            std::cout << path << ":" << n << ": not a byte cycle: " << line << "\n";
            return false;
        }
        if (c.port != kEcr) cycles->push_back(c);
    }
    return true;
}

// The longest run of `want` found in `have` from `from`: its start and length.
std::pair<std::size_t, std::size_t> BestAlignment(const std::vector<Cycle>& have,
                                                  const std::vector<Cycle>& want,
                                                  std::size_t from) {
    std::pair<std::size_t, std::size_t> best{from, 0};
    for (std::size_t i = from; i < have.size(); ++i) {
        std::size_t k = 0;
        while (k < want.size() && i + k < have.size() && have[i + k] == want[k]) ++k;
        if (k > best.second) best = {i, k};
        if (k == want.size()) break;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: qemu_trace_match DEVICE_LOG NAME=TRACE...\n";
        return 2;
    }
    std::vector<Cycle> device;
    if (!ReadDeviceLog(argv[1], &device)) return 2;
    std::size_t from = 0;
    bool ok = true;
    for (int a = 2; a < argc; ++a) {
        const std::string arg = argv[a];
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::vector<Cycle> trace;
        if (eq == std::string::npos || !ReadTrace(arg.substr(eq + 1), &trace)) return 2;
        if (trace.empty()) {
            std::cout << name << ": the trace holds no cycle to the port\n";
            ok = false;
            continue;
        }
        const auto [start, matched] = BestAlignment(device, trace, from);
        if (matched == trace.size()) {
            std::cout << name << ": all " << trace.size() << " traced cycles reached the device "
                      << "as traced (device log lines " << device[start].line << " to "
                      << device[start + matched - 1].line << ")\n";
            from = start + matched;
            continue;
        }
        ok = false;
        if (matched == 0) {
            std::cout << name << ": the device never saw the first traced cycle " << Text(trace[0])
                      << "\n";
            continue;
        }
        std::cout << name << ": the device saw the first " << matched << " of " << trace.size()
                  << " traced cycles, then differs (trace line " << trace[matched].line
                  << ", device log line "
                  << (start + matched < device.size() ? device[start + matched].line : 0)
                  << "):\n    trace                 device\n";
        const std::size_t lo = matched >= 4 ? matched - 4 : 0;
        for (std::size_t k = lo; k < matched + 6; ++k) {
            const std::string t = k < trace.size() ? Text(trace[k]) : "(end)";
            const std::string d = start + k < device.size() ? Text(device[start + k]) : "(end)";
            std::cout << (k == matched ? " >> " : "    ") << t
                      << std::string(t.size() < 22 ? 22 - t.size() : 1, ' ') << d << "\n";
        }
        from = start + matched;
    }
    return ok ? 0 : 1;
}
