#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FrameSize.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

// Facing codes the host reports; the guest maps them to its own.
constexpr uint32_t kFacingFront = 0;  // faces the user
constexpr uint32_t kFacingBack = 1;   // so is every other code

struct CameraConfig {
    uint32_t facing = kFacingBack;
    uint32_t orientation = 0;  // mounting orientation, degrees
    std::string name;
    // Sizes offered to the guest, in the order it lists them. The preview and video lists are
    // never empty and the preferred preview size is one of the preview sizes; no picture sizes
    // means the preview sizes.
    std::vector<FrameSize> previewSizes = {{1920, 1080}, {1280, 720}, {640, 480}};
    FrameSize preferredPreviewSize = {1280, 720};
    std::vector<FrameSize> pictureSizes = {};
    std::vector<FrameSize> videoSizes = {{1280, 720}, {640, 480}};
    // Of the thumbnails the host makes for pictures: by default the one size besides 0x0 that
    // the camera module offers its clients.
    FrameSize thumbnailSize = {75, 75};
    // What the camera reports as supported; the guest may set white balance and exposure
    // compensation only where it is.
    bool whiteBalance = true;
    bool autoFocus = false;
    bool exposure = true;
    // Pictures a second of the pattern and of still pictures when the host paces; the guest may
    // ask for fewer. Clips and folders come at their own rate.
    uint32_t fps = 30;
    // What the camera shows when the host starts (CameraSources).
    SourceChoice source = {};

    const std::vector<FrameSize>& offeredPictureSizes() const {
        return pictureSizes.empty() ? previewSizes : pictureSizes;
    }
};

// Misbehaviour the host can be told to show, for fault tests. All off by default.
struct HostFaults {
    bool refuse = false;           // connections are closed at once, HGCM connects fail
    uint32_t closeAfter = 0;       // a connection or pairing ends after so many (0: never)
    bool bytePerTransfer = false;  // reply bytes go out one per transfer (call 10, send)
    bool stall = false;            // requests are taken but never answered
    bool malformed = false;        // replies are not well-formed messages
    bool busy = false;             // captureFrame answers HOST_BUSY
    uint32_t exitAfter = 0;        // the process exits after so many requests (0: never)
    uint32_t freezeAfter = 0;      // after so many requests nothing is answered for a while
    uint32_t freezeMs = 0;         // how long that freeze lasts
};

// What one client may hold of the host, so that none can lock the others out.
struct HostLimits {
    // How long a connection may go without creating an instance (camera port), pairing
    // (control port) or connecting a client (guest-driver endpoint) before it is closed.
    uint32_t idleLimitMs = 10000;
    // HGCM clients one driver handle may have connected at once.
    uint32_t maxDriverClients = 16;
    // Bytes of samples all sample stores together may hold.
    size_t sampleMemoryBytes = size_t{512} << 20;
};

// What the camera service answers from. Fixed before the services start and read-only while
// they run, so every connection thread may read it without a lock.
struct HostConfig {
    static constexpr size_t kMaxCameras = 16;

    std::vector<CameraConfig> cameras;
    uint32_t orientation = 0;  // current device orientation, degrees
    HostFaults faults;
    HostLimits limits;
    // Whether captures wait for each camera's next frame time (FramePacer). vemo-hostd paces
    // unless told --unpaced; services that a test or benchmark builds in its own process don't,
    // unless it sets this.
    bool paced = false;
    // Added to every frame timestamp (microseconds of the monotonic clock), so that tests can
    // reach timestamps whose upper 32 bits are set.
    uint64_t timestampOffsetUs = 0;

    // Camera 0 faces the back, camera 1 the user; any further camera the back.
    static CameraConfig defaultCamera(size_t ix);
    // count default cameras.
    static HostConfig withCameras(size_t count);
};

}  // namespace host
}  // namespace vemo
