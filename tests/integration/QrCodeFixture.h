#pragma once

// A QR code of the test's own text, made with qrencode, and zbarimg to read it back from what
// the module hands the camera service.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "DeviceFixture.h"
#include "support/HostProcess.h"

namespace vemo {
namespace test {

const char kQrencode[] = "/usr/bin/qrencode";
const char kZbarimg[] = "/usr/bin/zbarimg";
// Previews and recordings at 640x480; the 4:3 frames letterbox the square code left and right.
const char kCamera[] = "0:preview-sizes=1280x720/640x480,preferred=640x480,video-sizes=640x480";

class QrCode : public DeviceTest {
protected:
    void SetUp() override {
        struct stat info {};
        ASSERT_TRUE(stat(kQrencode, &info) == 0 && stat(kZbarimg, &info) == 0)
            << "qrencode and zbarimg are needed (Debian's qrencode and zbar-tools; "
               "scripts/lib/deps.sh installs them)";
        // A text of this run, so that nothing else could have put it in a frame.
        _text = "vemo camera " + std::to_string(getpid()) + " " + std::to_string(time(nullptr));
        _code = folder() + "/code.png";
        const ProgramResult made =
            runProgram(kQrencode, {"-o", _code, "-s", "6", "-m", "4", _text});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // The text zbarimg reads from the file; what it said when it read none.
    std::string decode(const std::string& path) {
        const ProgramResult read = runProgram(kZbarimg, {"--quiet", "--raw", path});
        if (read.exitCode != 0) {
            return "(zbarimg: exit " + std::to_string(read.exitCode) + " " + read.err + ")";
        }
        return read.out.substr(0, read.out.find_last_not_of('\n') + 1);
    }

    // The luma plane at the start of a 640x480 frame as a PGM file.
    std::string lumaFile(const std::vector<uint8_t>& frame, const std::string& name) {
        const std::string path = folder() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out << "P5\n640 480\n255\n";
        out.write(reinterpret_cast<const char*>(frame.data()),
                  static_cast<std::streamsize>(std::min<size_t>(frame.size(), 640 * 480)));
        return path;
    }

    // vemo-hostd ctl against the test's host.
    ProgramResult ctl(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"ctl", "--socket", _host.process().field("ctl-socket")};
        all.insert(all.end(), args.begin(), args.end());
        return runProgram(VEMO_HOSTD_PATH, all);
    }

    // Starts the preview of the open camera and reads the code of a 640x480 preview frame that
    // came after the first few.
    std::string previewText() {
        _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
        if (_device->setPreviewWindow(_window.ops()) != 0 || _device->startPreview() != 0 ||
            !_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 5, std::chrono::seconds(5))) {
            return "(no preview)";
        }
        guest::CameraEvent frame;
        _callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame);
        return decode(lumaFile(frame.bytes, "preview.pgm"));
    }

    std::string _text;
    std::string _code;
};

}  // namespace test
}  // namespace vemo
