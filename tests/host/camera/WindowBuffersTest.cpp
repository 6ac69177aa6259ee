// updateFrameToCB into real shared memory objects laid out as the guest's graphics allocator
// lays them out, the window buffer mappings, and what a shrinking object costs.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vemo/gralloc_shm.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>

#include "BusErrorGuard.h"
#include "FrameTestSupport.h"
#include "HostTestSupport.h"
#include "SessionTestSupport.h"
#include "TestPattern.h"
#include "WindowBuffers.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::request;
using test::with;

constexpr uint8_t kUntouched = 0xEE;

// Ids unique to this process: no other process's allocator makes them.
uint32_t newId() {
    static std::atomic<uint32_t> counter{0};
    return (static_cast<uint32_t>(getpid()) << 8) | (counter++ & 0xFF);
}

std::string nameOf(uint32_t id) {
    char name[32];
    std::snprintf(name, sizeof(name), VEMO_GRALLOC_NAME_FORMAT, id);
    return name;
}

// A window buffer as the guest's allocator makes it: the header of vemo/gralloc_shm.h with
// sequence 0, every other byte kUntouched. The test reads it with pread, so a buffer shrunk
// under the host's mapping can't fault the test. Unlinked when the test is done.
class GuestBuffer {
public:
    // size 0: exactly the header and height rows of stride bytes.
    GuestBuffer(uint32_t width, uint32_t height, uint32_t stride, size_t size = 0)
        : id(newId()), _name(nameOf(id)) {
        _fd = shm_open(_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        EXPECT_GE(_fd, 0) << _name;
        lay(width, height, stride, size);
    }
    ~GuestBuffer() {
        if (_fd >= 0) {
            close(_fd);
        }
        unlink();
    }

    // Sizes the object anew and writes a fresh header, as the allocator does for new geometry.
    void lay(uint32_t width, uint32_t height, uint32_t stride, size_t size = 0) {
        const size_t capacity = static_cast<size_t>(stride) * height;
        resize(size != 0 ? size : VEMO_GRALLOC_HEADER_SIZE + capacity);
        std::vector<uint8_t> fill(this->size(), kUntouched);
        std::fill_n(fill.begin(), std::min<size_t>(VEMO_GRALLOC_HEADER_SIZE, fill.size()), 0);
        EXPECT_EQ(pwrite(_fd, fill.data(), fill.size(), 0), static_cast<ssize_t>(fill.size()));
        for (const auto& [offset, value] : {std::pair<size_t, uint32_t>{0, VEMO_GRALLOC_MAGIC},
                                            {4, VEMO_GRALLOC_VERSION},
                                            {8, width},
                                            {12, height},
                                            {16, stride},
                                            {20, 3},
                                            {24, static_cast<uint32_t>(capacity)}}) {
            if (offset + 4 <= this->size()) {
                setU32(offset, value);
            }
        }
    }
    void resize(size_t size) { EXPECT_EQ(ftruncate(_fd, static_cast<off_t>(size)), 0); }
    void unlink() {
        if (!_unlinked) {
            shm_unlink(_name.c_str());
            _unlinked = true;
        }
    }

    size_t size() const {
        struct stat info {};
        fstat(_fd, &info);
        return static_cast<size_t>(info.st_size);
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> all(size());
        EXPECT_EQ(pread(_fd, all.data(), all.size(), 0), static_cast<ssize_t>(all.size()));
        return all;
    }
    uint32_t u32(size_t offset) const {
        uint32_t v = 0;
        EXPECT_EQ(pread(_fd, &v, 4, static_cast<off_t>(offset)), 4);
        return v;
    }
    uint64_t u64(size_t offset) const { return u32(offset) | uint64_t{u32(offset + 4)} << 32; }
    void setU32(size_t offset, uint32_t v) {
        EXPECT_EQ(pwrite(_fd, &v, 4, static_cast<off_t>(offset)), 4);
    }

    const uint32_t id;

private:
    const std::string _name;
    int _fd = -1;
    bool _unlinked = false;
};

// R, G, B of pixel (x, y) of a buffer's bytes.
std::vector<int> rgbAt(const std::vector<uint8_t>& bytes, uint32_t stride, int x, int y) {
    const uint8_t* p = bytes.data() + VEMO_GRALLOC_HEADER_SIZE + static_cast<size_t>(y) * stride +
                       static_cast<size_t>(x) * 3;
    return {p[0], p[1], p[2]};
}

// The middle of bar i of the test pattern at size, scaled to a buffer of width x height.
std::pair<int, int> barMiddle(FrameSize size, int i, uint32_t width, uint32_t height) {
    const Rect bar = TestPattern::layout(size).bars[i];
    return {
        static_cast<int>((bar.x + bar.width / 2) * static_cast<int64_t>(width) / size.width),
        static_cast<int>((bar.y + bar.height / 2) * static_cast<int64_t>(height) / size.height)};
}

class UpdateFrameToCB : public ::testing::Test {
protected:
    void SetUp() override {
        _config.cameras[0].previewSizes = {{320, 240}, {176, 144}};
        _config.cameras[0].preferredPreviewSize = {320, 240};
        ASSERT_EQ(describe(call(test::initRequest())), "__return=u32:0");
        ASSERT_EQ(describe(call(request("setCameraIx", 0))), "__return=u32:0");
    }

    Message call(const Message& request) { return test::callSession(_session, request); }
    std::string update(uint32_t id) {
        return describe(call(with(with(request("updateFrameToCB"), "frame_id", 0), "cb", id)));
    }
    void capture() { call(with(request("captureFrame"), "id", 0)); }

    test::HostLogCapture _log;
    HostConfig _config = HostConfig::withCameras(1);
    HostState _state{_config};
    Session _session{_state, "conn 9"};
};

TEST_F(UpdateFrameToCB, DrawsThePictureIntoPaddedRowsAndStampsTheHeaderLast) {
    const uint32_t stride = 320 * 3 + 16;
    GuestBuffer buffer(320, 240, stride, VEMO_GRALLOC_HEADER_SIZE + stride * 240 + 100);
    buffer.setU32(28, 41);
    for (int i = 0; i < 3; ++i) {
        capture();
    }
    ASSERT_EQ(update(buffer.id), "__return=u32:0");

    const Message frame = call(with(request("getPreviewContents"), "id", 1));
    std::vector<uint8_t> bytes = buffer.bytes();
    EXPECT_EQ(buffer.u32(28), 42u);
    EXPECT_EQ(buffer.u32(40), 3u);
    EXPECT_EQ(buffer.u64(32), test::u64(frame, "ts"));
    EXPECT_EQ(
        test::readCounter({320, 240}, [&](int x, int y) { return rgbAt(bytes, stride, x, y)[0]; }),
        3u);
    const auto [x, y] = barMiddle({320, 240}, 1, 320, 240);
    EXPECT_EQ(rgbAt(bytes, stride, x, y), (std::vector<int>{191, 191, 0}));
    // Nothing past each row's pixels, nor past the rows.
    for (size_t row = 0; row < 240; ++row) {
        const size_t padding = VEMO_GRALLOC_HEADER_SIZE + row * stride + 320 * 3;
        ASSERT_EQ(std::count(bytes.begin() + padding, bytes.begin() + padding + 16, kUntouched), 16)
            << "row " << row;
    }
    EXPECT_EQ(std::count(bytes.end() - 100, bytes.end(), kUntouched), 100);

    // Without a new capture the same picture goes in again, under a new sequence.
    ASSERT_EQ(update(buffer.id), "__return=u32:0");
    EXPECT_EQ(buffer.u32(28), 43u);
    EXPECT_EQ(buffer.u32(40), 3u);
    EXPECT_EQ(buffer.bytes(), [&] {
        bytes[28] = 43;
        return bytes;
    }());
}

TEST_F(UpdateFrameToCB, ScalesToTheBuffersOwnSizeOddOrLarger) {
    for (const auto& [width, height] : {std::pair<uint32_t, uint32_t>{161, 121}, {640, 480}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        GuestBuffer buffer(width, height, width * 3,
                           VEMO_GRALLOC_HEADER_SIZE + width * 3 * height + 7);
        ASSERT_EQ(update(buffer.id), "__return=u32:0");
        const std::vector<uint8_t> bytes = buffer.bytes();
        for (const auto& [bar, rgb] : {std::pair<int, std::vector<int>>{1, {191, 191, 0}},
                                       {6, {0, 0, 191}},
                                       {7, {0, 0, 0}}}) {
            const auto [x, y] = barMiddle({320, 240}, bar, width, height);
            const std::vector<int> got = rgbAt(bytes, width * 3, x, y);
            // The scaler's rounding may take a level or two off a flat colour.
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(got[i], rgb[i], 3) << "bar " << bar << " channel " << i;
            }
        }
        EXPECT_EQ(std::count(bytes.end() - 7, bytes.end(), kUntouched), 7);
        EXPECT_EQ(buffer.u32(28), 1u);
    }
}

TEST_F(UpdateFrameToCB, RefusesABufferWhoseHeaderDoesNotFitAndWritesNothing) {
    const uint32_t rows = 320 * 3 * 240;
    const struct {
        const char* what;
        size_t offset;  // of the header field to change; 0 with value 0 changes nothing
        uint32_t value;
        size_t size;  // of the object; 0 leaves it as laid
        const char* error;
    } cases[] = {
        {"magic", 0, 0x56475242, 0, "magic 0x56475242 is not 0x42524756"},
        {"version", 4, 2, 0, "version 2 is not 1"},
        {"format", 20, 1, 0, "format 1 is not 3 (RGB888)"},
        {"no width", 8, 0, 0, "size 0x240 is not from 1 to 8192 each way"},
        {"huge height", 12, 8193, 0, "size 320x8193 is not from 1 to 8192 each way"},
        {"short rows", 16, 959, 0, "stride 959 is less than the 960 bytes of a row"},
        {"small capacity", 24, rows - 1, 0,
         "240 rows of 960 bytes do not fit the capacity of 230399"},
        {"stride that overflows 32 bits", 16, 0x80000000u, 0,
         "240 rows of 2147483648 bytes do not fit the capacity of 230400"},
        {"object smaller than the header says", 0, 0, VEMO_GRALLOC_HEADER_SIZE + 1000,
         "240 rows of 960 bytes do not fit the 1000 bytes after the header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GuestBuffer buffer(320, 240, 320 * 3, c.size);
        if (c.offset != 0 || c.value != 0) {
            buffer.setU32(c.offset, c.value);
        }
        const std::vector<uint8_t> before = buffer.bytes();
        EXPECT_EQ(update(buffer.id), "__error=str:\"updateFrameToCB: window buffer " +
                                         std::to_string(buffer.id) + ": " + c.error + "\"");
        EXPECT_EQ(buffer.bytes(), before);
    }
    GuestBuffer tiny(320, 240, 320 * 3, 10);
    const std::vector<uint8_t> before = tiny.bytes();
    EXPECT_EQ(update(tiny.id), "__error=str:\"updateFrameToCB: window buffer " +
                                   std::to_string(tiny.id) + ": " + nameOf(tiny.id) +
                                   " has 10 bytes, less than its 64-byte header\"");
    EXPECT_EQ(tiny.bytes(), before);
}

TEST_F(UpdateFrameToCB, MissingBufferWarnsOnceAndAGoneOrResizedOneIsFoundAfresh) {
    auto buffer = std::make_unique<GuestBuffer>(320, 240, 320 * 3);
    const uint32_t id = buffer->id;
    buffer.reset();
    const std::string missing = "__error=str:\"updateFrameToCB: window buffer " +
                                std::to_string(id) + ": no shared memory object " + nameOf(id) +
                                ": No such file or directory\"";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(update(id), missing);
    }
    const std::string logged = "conn 9: updateFrameToCB: window buffer " + std::to_string(id);
    EXPECT_EQ(_log.countContaining("W " + logged), 1u);
    EXPECT_EQ(_log.countContaining("D " + logged), 2u);

    // An unlinked buffer is gone even while the host still has it mapped; a new object of the
    // same name is another buffer.
    GuestBuffer first(320, 240, 320 * 3);
    ASSERT_EQ(update(first.id), "__return=u32:0");
    first.unlink();
    EXPECT_NE(update(first.id), "__return=u32:0");
    EXPECT_EQ(_log.countContaining("W conn 9: updateFrameToCB: window buffer " +
                                   std::to_string(first.id)),
              1u);

    // Resized in place: the new geometry is drawn.
    GuestBuffer buffer2(176, 144, 176 * 3);
    ASSERT_EQ(update(buffer2.id), "__return=u32:0");
    buffer2.lay(320, 480, 320 * 3);
    ASSERT_EQ(update(buffer2.id), "__return=u32:0");
    const std::vector<uint8_t> bytes = buffer2.bytes();
    const auto [x, y] = barMiddle({320, 240}, 1, 320, 480);
    EXPECT_NEAR(rgbAt(bytes, 320 * 3, x, y)[0], 191, 3);
    EXPECT_EQ(rgbAt(bytes, 320 * 3, x, y)[2], 0);
    EXPECT_EQ(buffer2.u32(28), 1u);
}

// The mappings of this process of the window buffer's object.
int mappingsOf(uint32_t id) {
    const std::string path = "/dev/shm" + nameOf(id);
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) {
        const size_t at = line.find(path);
        count += at != std::string::npos &&
                 (at + path.size() == line.size() || line[at + path.size()] == ' ');
    }
    return count;
}

TEST(WindowBuffers, MappingsAreBoundedAndGoWithTheInstance) {
    std::vector<std::unique_ptr<GuestBuffer>> buffers;
    const std::vector<uint8_t> rgb(16 * 16 * 3, 0x40);
    auto windows = std::make_unique<WindowBuffers>();
    for (size_t i = 0; i < WindowBuffers::kMaxMapped + 2; ++i) {
        buffers.push_back(std::make_unique<GuestBuffer>(16, 16, 48));
        WindowBuffers::Picture picture{rgb.data(), {16, 16}, 5, 7};
        ASSERT_TRUE(windows->write(buffers.back()->id, picture).isOk());
    }
    // The least recently used went first.
    std::vector<uint32_t> expected;
    for (size_t i = 2; i < buffers.size(); ++i) {
        expected.push_back(buffers[i]->id);
    }
    EXPECT_EQ(windows->mappedIds(), expected);
    EXPECT_EQ(mappingsOf(buffers[0]->id), 0);
    EXPECT_EQ(mappingsOf(buffers[2]->id), 1);
    windows.reset();
    for (const auto& buffer : buffers) {
        EXPECT_EQ(mappingsOf(buffer->id), 0);
    }
}

TEST(BusErrorGuard, AnObjectShrunkUnderItsMappingCostsTheWriteNotTheProcess) {
    const long page = sysconf(_SC_PAGESIZE);
    GuestBuffer buffer(16, 16, 48, static_cast<size_t>(page) * 2);
    const int fd = shm_open(nameOf(buffer.id).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    auto* map = static_cast<uint8_t*>(
        mmap(nullptr, static_cast<size_t>(page) * 2, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    buffer.resize(static_cast<size_t>(page));
    {
        BusErrorGuard guard(map, static_cast<size_t>(page) * 2);
        map[100] = 1;
        EXPECT_FALSE(guard.faulted());
        map[page + 100] = 1;
        EXPECT_TRUE(guard.faulted());
    }
    // The shared page lost the guard's later writes; the first one got through.
    EXPECT_EQ(buffer.bytes().size(), static_cast<size_t>(page));
    EXPECT_EQ(buffer.bytes()[100], 1);
    munmap(map, static_cast<size_t>(page) * 2);

    // Outside a guard a bus error is still the end of the process.
    EXPECT_DEATH(
        {
            const int again = shm_open(nameOf(buffer.id).c_str(), O_RDWR, 0);
            auto* p =
                static_cast<volatile uint8_t*>(mmap(nullptr, static_cast<size_t>(page) * 2,
                                                    PROT_READ | PROT_WRITE, MAP_SHARED, again, 0));
            p[page + 1] = 1;
        },
        "");
}

}  // namespace
}  // namespace host
}  // namespace vemo
