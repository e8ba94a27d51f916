#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/qt/wallpaper.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"
#include "view/image_form.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int32_t Le32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return static_cast<int32_t>(v);
}

std::string Bmp(int32_t w, int32_t h) {
    BmpDesc desc;
    desc.width = w;
    desc.height = h;
    desc.pixels.assign(static_cast<size_t>(DibStride(w, 24)) * h, 0x60);
    return BuildBmp(desc);
}

TEST(WallpaperFileTest, FitsThePrimaryScreenWithoutEnlargingAndKeepsTheOldFileOnFailure) {
    GuiApp();
    TempDir dir;
    const std::string target = dir.file("Lumora.bmp");
    const struct {
        int32_t w, h, expectW, expectH;
    } cases[] = {{4000, 3000, 1280, 960}, {100, 100, 100, 100}};
    for (const auto& c : cases) {
        const std::string source = dir.file("src" + std::to_string(c.w) + ".bmp");
        WriteFileBytes(source, Bmp(c.w, c.h));
        ASSERT_TRUE(WriteWallpaperFile(source, 1280, 1024, target));
        const std::string written = ReadAll(target);
        ASSERT_GE(written.size(), 54u);
        EXPECT_EQ(written.substr(0, 2), "BM");
        EXPECT_EQ(Le32(written, 18), c.expectW);
        EXPECT_EQ(std::abs(Le32(written, 22)), c.expectH);
    }
    // A file that cannot be decoded is not written over the last wallpaper.
    const std::string before = ReadAll(target);
    const std::string broken = dir.file("broken.bmp");
    WriteFileBytes(broken, "BM not a bitmap");
    EXPECT_FALSE(WriteWallpaperFile(broken, 1280, 1024, target));
    EXPECT_FALSE(WriteWallpaperFile(dir.file("missing.bmp"), 1280, 1024, target));
    EXPECT_EQ(ReadAll(target), before);
}

// Stand-ins for the desktops' setters on PATH, each recording its name and arguments.
class DesktopSetterTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        bin_ = dir_.file("bin");
        std::filesystem::create_directories(bin_);
        log_ = dir_.file("calls.log");
        const std::string record =
            "#!/bin/sh\n"
            "[ -e \"$STANDIN_DIR/hang\" ] && exec sleep 30\n"
            "echo \"$(basename \"$0\") $*\" >> \"$STANDIN_DIR/calls.log\"\n"
            "[ -e \"$STANDIN_DIR/fail\" ] && exit 3\n";
        for (const char* name : {"gsettings", "plasma-apply-wallpaperimage"})
            Script(name, record + "exit 0\n");
        Script("xfconf-query", record +
                                   "[ \"$3\" = \"-l\" ] && printf '%s\\n' "
                                   "/backdrop/screen0/monitorHDMI-1/workspace0/last-image "
                                   "/backdrop/screen0/monitorHDMI-1/workspace0/image-style "
                                   "/backdrop/screen0/monitoreDP-1/workspace0/last-image\n"
                                   "exit 0\n");
        oldPath_ = std::getenv("PATH");
        setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
        setenv("STANDIN_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }
    void Script(const std::string& name, const std::string& text) {
        const std::string path = bin_ + "/" + name;
        WriteFileBytes(path, text);
        chmod(path.c_str(), 0755);
    }
    std::string Calls() {
        std::string calls = ReadAll(log_);
        std::filesystem::remove(log_);
        return calls;
    }

    TempDir dir_;
    std::string bin_, log_, oldPath_;
};

TEST_F(DesktopSetterTest, EachDesktopGetsItsOwnSetterAndOnlyWhatWillKeepCountsAsDone) {
    const std::string file = "/home/ann/.local/share/Lumora/Lumora.bmp";
    const std::string uri = "file://" + file;
    const std::string gnome = "gsettings set org.gnome.desktop.background picture-uri " + uri +
                              "\ngsettings set org.gnome.desktop.background picture-uri-dark " +
                              uri + "\n";
    const std::string xfce =
        "xfconf-query -c xfce4-desktop -l\n"
        "xfconf-query -c xfce4-desktop -p "
        "/backdrop/screen0/monitorHDMI-1/workspace0/last-image -s " +
        file +
        "\nxfconf-query -c xfce4-desktop -p "
        "/backdrop/screen0/monitoreDP-1/workspace0/last-image -s " +
        file + "\n";
    const struct {
        const char* desktop;
        bool bus;
        bool ok;
        std::string calls;
    } cases[] = {
        {"GNOME", true, true, gnome},
        {"ubuntu:GNOME", true, true, gnome},
        {"Unity", true, true, gnome},
        {"X-Cinnamon", true, true,
         "gsettings set org.cinnamon.desktop.background picture-uri " + uri + "\n"},
        {"MATE", true, true, "gsettings set org.mate.background picture-filename " + file + "\n"},
        {"XFCE", true, true, xfce},
        {"KDE", true, true, "plasma-apply-wallpaperimage " + file + "\n"},
        // gsettings without a session bus says it succeeded and keeps nothing.
        {"GNOME", false, false, ""},
        {"sway", true, false, ""},
        {"", true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.desktop << " bus " << c.bus);
        WallpaperEnvironment environment;
        environment.desktop = c.desktop;
        environment.sessionBus = c.bus;
        environment.tryPortal = false;
        EXPECT_EQ(SetDesktopWallpaper(file, environment), c.ok);
        EXPECT_EQ(Calls(), c.calls);
    }
}

TEST_F(DesktopSetterTest, ASetterThatFailsOrHangsIsAFailureWithinItsTimeLimit) {
    WallpaperEnvironment environment;
    environment.desktop = "KDE";
    environment.sessionBus = true;
    environment.tryPortal = false;
    environment.timeoutMs = 500;
    WriteFileBytes(dir_.file("fail"), "");
    EXPECT_FALSE(SetDesktopWallpaper("/w/Lumora.bmp", environment));
    std::filesystem::remove(dir_.file("fail"));
    WriteFileBytes(dir_.file("hang"), "");
    // The window is not frozen meanwhile: its timers (and paints) go on.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(SetDesktopWallpaper("/w/Lumora.bmp", environment));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GT(ticks, 0);
    ticker.stop();
    std::filesystem::remove(dir_.file("hang"));
    // No setter on PATH at all.
    setenv("PATH", dir_.file("nowhere").c_str(), 1);
    EXPECT_FALSE(SetDesktopWallpaper("/w/Lumora.bmp", environment));
}

// The portal comes first; its refusal or absence leaves the desktop's own setter. The session
// bus is a private one, made here, with the stand-in portal on it.
TEST_F(DesktopSetterTest, ThePortalIsAskedFirstAndWithoutItsYesTheDesktopsSetterRuns) {
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address=1")});
    if (!bus.waitForStarted(5000)) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed().constData(), 1);
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    const std::string portalLog = dir_.file("portal.log");
    QProcess portal;
    auto startPortal = [&](int code) {
        portal.start(QString::fromUtf8(PORTAL_STANDIN_PATH),
                     {QString::fromStdString(portalLog), QString::number(code)});
        return portal.waitForReadyRead(5000);
    };
    auto stopPortal = [&] {
        portal.kill();
        portal.waitForFinished(3000);
    };
    WallpaperEnvironment environment;
    environment.desktop = "KDE";
    environment.sessionBus = true;
    environment.timeoutMs = 3000;
    const std::string file = "/home/ann/.local/share/Lumora/Lumora 1.bmp";
    const std::string asked =
        "parent= uri=file:///home/ann/.local/share/Lumora/Lumora%201.bmp "
        "show-preview=false set-on=background token=yes\n";

    ASSERT_TRUE(startPortal(0));
    EXPECT_TRUE(SetDesktopWallpaper(file, environment));
    EXPECT_EQ(ReadAll(portalLog), asked);
    EXPECT_EQ(Calls(), "");
    stopPortal();

    std::filesystem::remove(portalLog);
    ASSERT_TRUE(startPortal(2));
    EXPECT_TRUE(SetDesktopWallpaper(file, environment));
    EXPECT_EQ(ReadAll(portalLog), asked);
    EXPECT_EQ(Calls(), "plasma-apply-wallpaperimage " + file + "\n");
    stopPortal();

    // No portal on the bus any more.
    EXPECT_TRUE(SetDesktopWallpaper(file, environment));
    EXPECT_EQ(Calls(), "plasma-apply-wallpaperimage " + file + "\n");
    bus.kill();
    bus.waitForFinished(3000);
}

}  // namespace
