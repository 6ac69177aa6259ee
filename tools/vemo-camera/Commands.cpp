#include "Commands.h"

namespace vemo {
namespace tools {

const Command kCommands[] = {
    {"list", "", "print the cameras, their facing and mounting, and the current orientation", "",
     "", true, false, runList},
    {"probe", "[--camera N]",
     "bind camera N (default 0) through the guest driver; print its offer and frames", "--camera",
     "  --camera N      the camera to bind (default 0)\n", false, false, runProbe},
    {"params", "[--camera N]", "open camera N and print its parameters, sorted by key", "--camera",
     "  --camera N      the camera to open (default 0)\n", true, false, runParams},
    {"set", "[--camera N] KEY=VALUE...",
     "apply parameters on top of camera N's current ones and print the result", "--camera",
     "  --camera N      the camera to open (default 0)\n"
     "  KEY=VALUE       a parameter to set; neither side may hold '=' or ';'\n"
     "\n"
     "The device refuses a set as a whole (-22) or takes it; * marks the parameters that\n"
     "differ afterwards, and a note says when the device reports a value other than asked.\n",
     true, false, runSet},
    {"preview", "[--camera N] [--frames N] [--size WxH] [--format F] [--save DIR]",
     "preview camera N into a window and take preview frames; print their rates",
     "--camera --frames --size --format --save",
     "  --camera N      the camera to open (default 0)\n"
     "  --frames N      frames to show in the window, and callbacks to take (default 30)\n"
     "  --size WxH      the preview size to ask for; the host decides the size (its\n"
     "                  preferred one), and the command says when it differs\n"
     "  --format F      the format of preview frames: yuv420sp (NV21), yuv420p (YV12) or\n"
     "                  yuv422i-yuyv (default: the camera's current one)\n"
     "  --save DIR      write DIR/window.png, what the window shows, and\n"
     "                  DIR/preview-frame.png, the last preview frame (made if missing)\n",
     true, true, runPreview},
    {"record",
     "[--camera N] [--seconds S] [--size WxH] [--mode copy|metadata] [--out FILE] "
     "[--hostd PATH]",
     "record from camera N while it previews; copy mode writes a Y4M clip",
     "--camera --seconds --size --mode --out --hostd",
     "  --camera N      the camera to open (default 0)\n"
     "  --seconds S     how long to record (default 3, up to 600)\n"
     "  --size WxH      the video size to ask for (default: the camera's current one)\n"
     "  --mode M        copy: the frames come to the client (default); metadata: they stay\n"
     "                  on the host, the client gets records naming them and hands each\n"
     "                  back with release_recording_frame\n"
     "  --out FILE      copy mode: the clip, YUV4MPEG2 in I420 (default clip.y4m)\n"
     "  --hostd PATH    metadata mode: afterwards ask PATH ctl samples how many samples the\n"
     "                  host still holds (its control socket: $VEMO_HOSTD_CTL, else the one\n"
     "                  vemo-hostd running); fails unless it holds none\n",
     true, true, runRecord},
    {"snap", "[--camera N] [-o FILE] [--size WxH] [--rotation D] [--gps G] [--thumbnail WxH]",
     "take a picture with camera N, write its JPEG file and print its EXIF tags",
     "--camera --out --size --rotation --gps --thumbnail",
     "  --camera N      the camera to open (default 0)\n"
     "  -o, --out FILE  the JPEG file to write (default photo.jpg)\n"
     "  --size WxH      the picture size to ask for; the host decides the size, and the\n"
     "                  command says when it differs\n"
     "  --rotation D    0, 90, 180 or 270: how the picture is to be turned (EXIF)\n"
     "  --gps G         LAT,LON,ALT[,UNIX_TIME[,METHOD]]: where and when (EXIF GPS tags)\n"
     "  --thumbnail WxH the thumbnail size to ask for; 0x0 for no thumbnail\n",
     true, true, runSnap},
    {nullptr, nullptr, nullptr, nullptr, nullptr, false, false, nullptr},
};

const Command* findCommand(const std::string& name) {
    for (const Command* command = kCommands; command->name != nullptr; ++command) {
        if (name == command->name) {
            return command;
        }
    }
    return nullptr;
}

bool takesOption(const Command& command, const std::string& option) {
    const std::string list = std::string(" ") + command.options + " ";
    return list.find(" " + option + " ") != std::string::npos;
}

}  // namespace tools
}  // namespace vemo
