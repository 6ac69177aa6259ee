// The fake graphics allocator's window as a device and the host see it: buffer handles, the
// shared memory objects behind them, the buffer queue, and the frame the window shows.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <system/graphics.h>
#include <vemo/gralloc_shm.h>

#include "service/PreviewWindow.h"
#include "support/LittleEndian.h"

namespace vemo {
namespace test {

namespace {

using guest::PreviewWindow;
using guest::WindowFrame;

std::string nameOf(uint32_t id) {
    char name[64];
    snprintf(name, sizeof(name), VEMO_GRALLOC_NAME_FORMAT, id);
    return name;
}

bool objectExists(uint32_t id) {
    const int fd = shm_open(nameOf(id).c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

uint8_t pixelByte(int x, int y, int channel, uint32_t seed) {
    return static_cast<uint8_t>(x * 7 + y * 13 + channel * 50 + seed);
}

// What vemo-hostd does on updateFrameToCB: opens the buffer's object by its id, checks the
// header against the object's size, draws at the buffer's own size and bumps the sequence.
// Returns an empty text, or what was wrong.
std::string fillAsHost(uint32_t id, uint32_t seed, uint32_t frameNumber) {
    const int fd = shm_open(nameOf(id).c_str(), O_RDWR, 0);
    if (fd < 0) {
        return "no object " + nameOf(id);
    }
    struct stat st;
    fstat(fd, &st);
    const size_t size = static_cast<size_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        return "cannot map";
    }
    auto* header = static_cast<uint8_t*>(map);
    std::string problem;
    const uint32_t width = loadLe32(header + 8);
    const uint32_t height = loadLe32(header + 12);
    const uint32_t stride = loadLe32(header + 16);
    if (loadLe32(header) != VEMO_GRALLOC_MAGIC || loadLe32(header + 4) != VEMO_GRALLOC_VERSION ||
        loadLe32(header + 20) != HAL_PIXEL_FORMAT_RGB_888 || stride < width * 3 ||
        static_cast<size_t>(stride) * height > loadLe32(header + 24) ||
        VEMO_GRALLOC_HEADER_SIZE + static_cast<size_t>(loadLe32(header + 24)) > size) {
        problem = "bad header";
    } else {
        uint8_t* pixels = header + VEMO_GRALLOC_HEADER_SIZE;
        for (uint32_t y = 0; y < height; ++y) {
            // The padding at the end of each row gets a value the window must not show.
            memset(pixels + y * stride, 0xEE, stride);
            for (uint32_t x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    pixels[y * stride + x * 3 + c] = pixelByte(x, y, c, seed);
                }
            }
        }
        storeLe32(header + 28, loadLe32(header + 28) + 1);
        storeLe32(header + 32, 0x89ABCDEF);
        storeLe32(header + 36, 0x1);
        storeLe32(header + 40, frameNumber);
    }
    munmap(map, size);
    return problem;
}

// The window as a device uses it.
class Window {
public:
    preview_stream_ops* ops() { return _window.ops(); }
    PreviewWindow& window() { return _window; }

    int geometry(int width, int height, int format = HAL_PIXEL_FORMAT_RGB_888) {
        _width = width;
        _height = height;
        return ops()->set_buffers_geometry(ops(), width, height, format);
    }
    int dequeue(buffer_handle_t** buffer, int* stride = nullptr) {
        int ignored = 0;
        return ops()->dequeue_buffer(ops(), buffer, stride != nullptr ? stride : &ignored);
    }
    // Writes the geometry words as the camera does (width and height as given, swapped when
    // asked to be wrong), then queues.
    int enqueue(buffer_handle_t* buffer, bool swapped = false) {
        if (buffer != nullptr && *buffer != nullptr) {
            int* words = reinterpret_cast<int*>(const_cast<native_handle_t*>(*buffer));
            words[VEMO_GRALLOC_GEOMETRY_WORD] = 0;
            words[VEMO_GRALLOC_GEOMETRY_WORD + 1] = 0;
            words[VEMO_GRALLOC_GEOMETRY_WORD + 2] = swapped ? _height : _width;
            words[VEMO_GRALLOC_GEOMETRY_WORD + 3] = swapped ? _width : _height;
        }
        return ops()->enqueue_buffer(ops(), buffer);
    }

    static uint32_t idOf(buffer_handle_t* buffer) {
        return static_cast<uint32_t>(reinterpret_cast<const int*>(*buffer)[VEMO_GRALLOC_ID_WORD]);
    }

private:
    PreviewWindow _window;
    int _width = 0;
    int _height = 0;
};

TEST(PreviewWindow, BuffersAreHandlesOnSharedMemoryInTheAllocatorsLayout) {
    Window w;
    buffer_handle_t* buffer = nullptr;
    EXPECT_EQ(w.dequeue(&buffer), -EINVAL) << "no buffers before a geometry";
    EXPECT_EQ(w.geometry(50, 4, HAL_PIXEL_FORMAT_YV12), -EINVAL);
    EXPECT_EQ(w.geometry(0, 4), -EINVAL);
    EXPECT_EQ(w.geometry(50, 9000), -EINVAL);
    ASSERT_EQ(w.geometry(50, 4), 0);
    EXPECT_EQ(w.window().bufferCount(), PreviewWindow::kDefaultBufferCount);

    const std::vector<uint32_t> ids = w.window().bufferIds();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), 3u);
    for (uint32_t id : ids) {
        const int fd = shm_open(nameOf(id).c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0) << nameOf(id);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        // Rows of 50 pixels start 64 pixels apart.
        const uint32_t stride = 64 * 3;
        EXPECT_EQ(static_cast<size_t>(st.st_size), VEMO_GRALLOC_HEADER_SIZE + stride * 4);
        uint8_t header[VEMO_GRALLOC_HEADER_SIZE];
        ASSERT_EQ(pread(fd, header, sizeof(header), 0), static_cast<ssize_t>(sizeof(header)));
        close(fd);
        EXPECT_EQ(loadLe32(header + 0), VEMO_GRALLOC_MAGIC);
        EXPECT_EQ(loadLe32(header + 4), VEMO_GRALLOC_VERSION);
        EXPECT_EQ(loadLe32(header + 8), 50u);
        EXPECT_EQ(loadLe32(header + 12), 4u);
        EXPECT_EQ(loadLe32(header + 16), stride);
        EXPECT_EQ(loadLe32(header + 20), static_cast<uint32_t>(HAL_PIXEL_FORMAT_RGB_888));
        EXPECT_EQ(loadLe32(header + 24), stride * 4);
        for (size_t i = 28; i < sizeof(header); ++i) {
            EXPECT_EQ(header[i], 0) << "byte " << i;
        }
    }

    int stride = 0;
    ASSERT_EQ(w.dequeue(&buffer, &stride), 0);
    EXPECT_EQ(stride, 64);
    const native_handle_t* handle = *buffer;
    EXPECT_EQ(handle->version, static_cast<int>(sizeof(native_handle_t)));
    EXPECT_EQ(handle->numFds, 1);
    // Word 19 exists: 3 header words, 1 descriptor and 16 ints.
    EXPECT_EQ(handle->numInts, 16);
    EXPECT_EQ(Window::idOf(buffer), ids[0]);
    struct stat viaHandle;
    ASSERT_EQ(fstat(handle->data[0], &viaHandle), 0);
    EXPECT_EQ(static_cast<size_t>(viaHandle.st_size), VEMO_GRALLOC_HEADER_SIZE + 64 * 3 * 4);
}

TEST(PreviewWindow, TheShownBufferIsNotHandedOutAgainUntilAnotherIsQueued) {
    Window w;
    ASSERT_EQ(w.geometry(16, 16), 0);
    buffer_handle_t* first = nullptr;
    buffer_handle_t* second = nullptr;
    buffer_handle_t* third = nullptr;
    buffer_handle_t* none = nullptr;
    ASSERT_EQ(w.dequeue(&first), 0);
    ASSERT_EQ(w.enqueue(first), 0);
    ASSERT_EQ(w.dequeue(&second), 0);
    ASSERT_EQ(w.dequeue(&third), 0);
    EXPECT_NE(second, first);
    EXPECT_NE(third, first);
    EXPECT_EQ(w.dequeue(&none), -EBUSY);
    ASSERT_EQ(w.enqueue(second), 0);
    // The first left the screen and is free again.
    ASSERT_EQ(w.dequeue(&none), 0);
    EXPECT_EQ(none, first);
    EXPECT_EQ(w.window().enqueued(), 2u);

    // Queueing what is not dequeued breaks the window's rules.
    EXPECT_EQ(w.enqueue(second), -EINVAL);
    buffer_handle_t stranger = nullptr;
    EXPECT_EQ(w.enqueue(&stranger), -EINVAL);
    EXPECT_EQ(w.ops()->cancel_buffer(w.ops(), second), -EINVAL);
    EXPECT_EQ(w.ops()->lock_buffer(w.ops(), third), 0);
    EXPECT_EQ(w.ops()->cancel_buffer(w.ops(), third), 0);
    EXPECT_EQ(w.window().misuses(), 3u);
    EXPECT_EQ(w.window().enqueued(), 2u);
    // So is a buffer queued without its geometry: the allocator would show it wrong.
    ASSERT_EQ(w.geometry(32, 16), 0);
    ASSERT_EQ(w.dequeue(&first), 0);
    EXPECT_EQ(w.enqueue(first, true), 0);
    EXPECT_EQ(w.window().misuses(), 4u);
}

TEST(PreviewWindow, ShowsTheFrameTheHostWroteIntoTheBufferQueuedLast) {
    Window w;
    WindowFrame frame;
    EXPECT_FALSE(w.window().shownFrame(&frame));
    ASSERT_EQ(w.geometry(50, 4), 0);
    buffer_handle_t* buffer = nullptr;
    ASSERT_EQ(w.dequeue(&buffer), 0);
    const uint32_t id = Window::idOf(buffer);
    ASSERT_EQ(fillAsHost(id, 3, 41), "");
    ASSERT_EQ(w.enqueue(buffer), 0);

    ASSERT_TRUE(w.window().shownFrame(&frame));
    EXPECT_EQ(frame.bufferId, id);
    EXPECT_EQ(frame.width, 50u);
    EXPECT_EQ(frame.height, 4u);
    EXPECT_EQ(frame.stride, 64u * 3);
    EXPECT_EQ(frame.format, static_cast<uint32_t>(HAL_PIXEL_FORMAT_RGB_888));
    EXPECT_EQ(frame.sequence, 1u);
    EXPECT_EQ(frame.timestamp, 0x189ABCDEFull);
    EXPECT_EQ(frame.frameNumber, 41u);
    ASSERT_EQ(frame.rgb.size(), 50u * 4 * 3);
    size_t wrong = 0;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 50; ++x) {
            for (int c = 0; c < 3; ++c) {
                wrong += frame.rgb[(y * 50 + x) * 3 + c] != pixelByte(x, y, c, 3) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(PreviewWindow, ANewGeometryReplacesTheBuffersAndTheirObjects) {
    Window w;
    ASSERT_EQ(w.geometry(32, 16), 0);
    const std::vector<uint32_t> before = w.window().bufferIds();
    // The same geometry again keeps them.
    ASSERT_EQ(w.geometry(32, 16), 0);
    EXPECT_EQ(w.window().bufferIds(), before);

    // A device may hold a buffer across the change; it stays usable and is shown when queued.
    buffer_handle_t* held = nullptr;
    ASSERT_EQ(w.dequeue(&held), 0);
    ASSERT_EQ(w.geometry(64, 8), 0);
    const std::vector<uint32_t> after = w.window().bufferIds();
    ASSERT_EQ(after.size(), 3u);
    for (uint32_t id : before) {
        EXPECT_FALSE(objectExists(id)) << nameOf(id);
        EXPECT_EQ(std::count(after.begin(), after.end(), id), 0);
    }
    for (uint32_t id : after) {
        EXPECT_TRUE(objectExists(id)) << nameOf(id);
    }
    EXPECT_EQ(w.window().width(), 64);
    EXPECT_EQ(w.window().height(), 8);
    ASSERT_EQ(w.enqueue(held), 0);
    WindowFrame frame;
    ASSERT_TRUE(w.window().shownFrame(&frame));
    EXPECT_EQ(frame.width, 32u);
    EXPECT_EQ(frame.rgb.size(), 32u * 16 * 3);

    // A new count replaces them too; a count that leaves nothing to dequeue is refused.
    EXPECT_EQ(w.ops()->set_buffer_count(w.ops(), 1), -EINVAL);
    ASSERT_EQ(w.ops()->set_buffer_count(w.ops(), 5), 0);
    EXPECT_EQ(w.window().bufferIds().size(), 5u);
    for (uint32_t id : after) {
        EXPECT_FALSE(objectExists(id)) << nameOf(id);
    }
    buffer_handle_t* fresh = nullptr;
    ASSERT_EQ(w.dequeue(&fresh), 0);
    ASSERT_EQ(w.enqueue(fresh), 0);
    ASSERT_TRUE(w.window().shownFrame(&frame));
    EXPECT_EQ(frame.width, 64u);
}

TEST(PreviewWindow, ATornDownWindowRefusesEverythingAndLeavesNoObjects) {
    std::vector<uint32_t> ids;
    {
        Window w;
        ASSERT_EQ(w.geometry(16, 16), 0);
        ids = w.window().bufferIds();
        buffer_handle_t* buffer = nullptr;
        ASSERT_EQ(w.dequeue(&buffer), 0);
        ASSERT_EQ(fillAsHost(Window::idOf(buffer), 1, 1), "");
        ASSERT_EQ(w.enqueue(buffer), 0);
        ASSERT_EQ(w.dequeue(&buffer), 0);
        w.window().takeOperations();

        w.window().tearDown();
        EXPECT_TRUE(w.window().tornDown());
        for (uint32_t id : ids) {
            EXPECT_FALSE(objectExists(id)) << nameOf(id);
        }
        buffer_handle_t* after = nullptr;
        EXPECT_EQ(w.dequeue(&after), -ENODEV);
        EXPECT_EQ(w.enqueue(buffer), -ENODEV);
        EXPECT_EQ(w.geometry(16, 16), -ENODEV);
        EXPECT_EQ(w.ops()->set_usage(w.ops(), 1), -ENODEV);
        EXPECT_EQ(w.window().operations(),
                  (std::vector<std::string>{"dequeue_buffer", "enqueue_buffer",
                                            "set_buffers_geometry", "set_usage"}));
        WindowFrame frame;
        ASSERT_TRUE(w.window().shownFrame(&frame));
        EXPECT_EQ(frame.sequence, 1u);
    }
    // Without a tear-down the destructor removes the objects as well.
    {
        Window w;
        ASSERT_EQ(w.geometry(16, 16), 0);
        ids = w.window().bufferIds();
    }
    for (uint32_t id : ids) {
        EXPECT_FALSE(objectExists(id)) << nameOf(id);
    }
}

TEST(PreviewWindow, RecordsOperationsAndValuesAndFailsOnRequest) {
    Window w;
    preview_stream_ops* ops = w.ops();
    EXPECT_EQ(ops->set_usage(ops, 0x20000302), 0);
    ASSERT_EQ(w.geometry(16, 16), 0);
    int minimum = 0;
    EXPECT_EQ(ops->get_min_undequeued_buffer_count(ops, &minimum), 0);
    EXPECT_EQ(minimum, 1);
    EXPECT_EQ(ops->set_crop(ops, 0, 0, 8, 8), 0);
    EXPECT_EQ(ops->set_swap_interval(ops, 1), 0);
    EXPECT_EQ(ops->set_timestamp(ops, 5), 0);
    w.window().setDequeueError(-ENOMEM);
    buffer_handle_t* buffer = nullptr;
    EXPECT_EQ(w.dequeue(&buffer), -ENOMEM);
    w.window().setDequeueError(0);
    ASSERT_EQ(w.dequeue(&buffer), 0);
    w.window().setGeometryError(-EIO);
    EXPECT_EQ(w.geometry(32, 32), -EIO);
    EXPECT_EQ(w.window().width(), 16);

    EXPECT_EQ(w.window().usage(), 0x20000302);
    EXPECT_EQ(w.window().format(), HAL_PIXEL_FORMAT_RGB_888);
    EXPECT_EQ(w.window().takeOperations(),
              (std::vector<std::string>{"set_usage", "set_buffers_geometry",
                                        "get_min_undequeued_buffer_count", "set_crop",
                                        "set_swap_interval", "set_timestamp", "dequeue_buffer",
                                        "dequeue_buffer", "set_buffers_geometry"}));
    EXPECT_TRUE(w.window().operations().empty());
}

// The device's worker queues frames while the camera service and a test look at the window.
TEST(PreviewWindow, ToleratesConcurrentUse) {
    Window w;
    ASSERT_EQ(w.geometry(16, 16), 0);
    const int frames = 500;
    std::thread worker([&] {
        for (int i = 0; i < frames; ++i) {
            buffer_handle_t* buffer = nullptr;
            if (w.dequeue(&buffer) == 0) {
                w.enqueue(buffer);
            }
        }
    });
    WindowFrame frame;
    for (int i = 0; i < frames; ++i) {
        w.window().shownFrame(&frame);
        w.window().takeOperations();
    }
    EXPECT_TRUE(w.window().waitForEnqueued(frames, std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(w.window().misuses(), 0u);
}

}  // namespace

}  // namespace test
}  // namespace vemo
