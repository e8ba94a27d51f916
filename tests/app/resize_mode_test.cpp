#include "app/core/resize_mode.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "image/reader.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// A 24-bit BMP whose pixels vary, so a scaled copy is not uniform.
std::string PatternBmp(int32_t w, int32_t h) {
    std::vector<std::vector<uint8_t>> rows;
    for (int32_t y = 0; y < h; ++y) {
        std::vector<uint8_t> row;
        for (int32_t x = 0; x < w; ++x) {
            row.push_back(static_cast<uint8_t>(x));
            row.push_back(static_cast<uint8_t>(y));
            row.push_back(static_cast<uint8_t>(x ^ y));
        }
        rows.push_back(row);
    }
    BmpDesc desc;
    desc.width = w;
    desc.height = h;
    desc.pixels = PackRows(rows, true);
    return BuildBmp(desc);
}

// Width and height from a JPEG's start-of-frame segment, or {0, 0}.
std::pair<int, int> JpegSize(const std::string& bytes) {
    size_t i = 2;
    if (bytes.compare(0, 2, "\xFF\xD8") != 0) return {0, 0};
    while (i + 9 < bytes.size()) {
        if (static_cast<uint8_t>(bytes[i]) != 0xFF) return {0, 0};
        const uint8_t marker = static_cast<uint8_t>(bytes[i + 1]);
        const size_t length =
            static_cast<uint8_t>(bytes[i + 2]) << 8 | static_cast<uint8_t>(bytes[i + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            const int h =
                static_cast<uint8_t>(bytes[i + 5]) << 8 | static_cast<uint8_t>(bytes[i + 6]);
            const int w =
                static_cast<uint8_t>(bytes[i + 7]) << 8 | static_cast<uint8_t>(bytes[i + 8]);
            return {w, h};
        }
        i += 2 + length;
    }
    return {0, 0};
}

struct ProgramRun {
    bool exited = false;  // false: still running at the deadline, then killed
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program in a home of its own with no display. Extra environment entries come last.
class ProgramTest : public testing::Test {
protected:
    ProgramTest() {
        for (const char* sub : {".config", ".local/share", ".cache"})
            std::filesystem::create_directories(home_.path() / sub);
    }

    ProgramRun Start(const std::vector<std::string>& words, std::chrono::seconds deadline,
                     const std::vector<std::string>& extraEnv = {}) {
        const std::string outFile = home_.file("stdout.txt"), errFile = home_.file("stderr.txt");
        std::vector<std::string> env = {
            "HOME=" + home_.path().string(),
            "XDG_CONFIG_HOME=" + (home_.path() / ".config").string(),
            "XDG_DATA_HOME=" + (home_.path() / ".local/share").string(),
            "XDG_CACHE_HOME=" + (home_.path() / ".cache").string(),
            "PATH=/usr/bin:/bin",
        };
        // Sanitizer settings of the test run carry over to the program.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
            if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<std::string> args = {LUMORA_BINARY_PATH};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ProgramRun run;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return run;
        }
        int status = 0;
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                run.out = ReadFileBytes(outFile);
                run.err = ReadFileBytes(errFile);
                return run;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.exited = WIFEXITED(status);
        run.status = run.exited ? WEXITSTATUS(status) : -1;
        run.out = ReadFileBytes(outFile);
        run.err = ReadFileBytes(errFile);
        return run;
    }

    ProgramRun Resize(const std::vector<std::string>& words) {
        return Start(words, std::chrono::seconds(120));
    }

    std::string Input(int32_t w, int32_t h) {
        const std::string path =
            dir_.file("in" + std::to_string(w) + "x" + std::to_string(h) + ".bmp");
        WriteFileBytes(path, PatternBmp(w, h));
        return path;
    }

    // The settings file is absent or holds no value lines.
    void ExpectNoSettingWritten() {
        const std::string settings =
            ReadFileBytes((home_.path() / ".config/Lumora/Lumora.reg").string());
        EXPECT_EQ(settings.find('='), std::string::npos) << settings;
    }

    TempDir home_{"lumora-home"};
    TempDir dir_;
};

TEST(ResizeCommandTest, ExactlyFiveWordsFirstExactlyDashResize) {
    EXPECT_TRUE(IsResizeCommand({"-resize", "a.jpg", "1", "2", "b.jpg"}));
    EXPECT_FALSE(IsResizeCommand({"-Resize", "a.jpg", "1", "2", "b.jpg"}));
    EXPECT_FALSE(IsResizeCommand({"-RESIZE", "a.jpg", "1", "2", "b.jpg"}));
    EXPECT_FALSE(IsResizeCommand({"--resize", "a.jpg", "1", "2", "b.jpg"}));
    EXPECT_FALSE(IsResizeCommand({"-resize", "a.jpg", "1", "2"}));
    EXPECT_FALSE(IsResizeCommand({"-resize", "a.jpg", "1", "2", "b.jpg", "c"}));
    EXPECT_FALSE(IsResizeCommand({"a.jpg", "-resize", "1", "2", "b.jpg"}));
    EXPECT_FALSE(IsResizeCommand({}));
}

TEST(ResizeCommandTest, SizesAreWholeNumbersFromZeroUp) {
    struct Case {
        const char* width;
        const char* height;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"200", "0", nullptr},
        {"0", "0150", nullptr},
        {"2147483647", "1", nullptr},
        {"abc", "0", "width must be a whole number"},
        {"", "10", "width must be a whole number"},
        {"12px", "10", "width must be a whole number"},
        {"1.5", "10", "width must be a whole number"},
        {"+5", "10", "width must be a whole number"},
        {"-", "10", "width must be a whole number"},
        {"-5", "10", "width must not be negative"},
        {"10", "-1", "height must not be negative"},
        {"10", " 1", "height must be a whole number"},
        {"2147483648", "0", "width is too large"},
        {"10", "99999999999999999999", "height is too large"},
        {"0", "0", "width and height cannot both be 0"},
    };
    for (const Case& c : cases) {
        ResizeRequest request;
        std::string error;
        const bool ok =
            ParseResizeRequest({"-resize", "In.BMP", c.width, c.height, "Out.JPG"}, request, error);
        SCOPED_TRACE(std::string(c.width) + " x " + c.height);
        if (c.error) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, c.error);
        } else {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(request.width, std::atoi(c.width));
            EXPECT_EQ(request.height, std::atoi(c.height));
            EXPECT_EQ(request.input, "In.BMP");
            EXPECT_EQ(request.output, "Out.JPG");
        }
    }
}

TEST_F(ProgramTest, ScalesToTheWidthAndWritesAJpegWithoutADisplayOrSettings) {
    const std::string out = dir_.file("out.jpg");
    const ProgramRun run = Resize({"-resize", Input(400, 300), "200", "0", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(JpegSize(ReadFileBytes(out)), std::make_pair(200, 150));
    ExpectNoSettingWritten();
}

TEST_F(ProgramTest, OutputNamedInCapitalsIsWrittenUnderTheNameAsGiven) {
    std::filesystem::create_directory(dir_.path() / "Shots");
    const std::string out = dir_.file("Shots/Small.JPG");
    const ProgramRun run = Resize({"-resize", Input(90, 60), "0", "30", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(JpegSize(ReadFileBytes(out)), std::make_pair(45, 30));
    EXPECT_FALSE(Exists(dir_.file("shots/small.jpg")));
    EXPECT_FALSE(Exists(dir_.file("Shots/small.jpg")));
}

TEST_F(ProgramTest, BmpAndPngOutputsAreNeverEnlarged) {
    const std::string in = Input(64, 32);
    const std::string bmp = dir_.file("out.bmp"), png = dir_.file("out.png");
    ProgramRun run = Resize({"-resize", in, "16", "16", bmp});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string bytes = ReadFileBytes(bmp);
    ASSERT_EQ(bytes.size(), 58u + 8 * 48);  // 16 x 8, rows of 48 bytes
    run = Resize({"-resize", in, "1000", "1000", png});
    EXPECT_EQ(run.status, 0) << run.err;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    EXPECT_EQ(image.width, 64u);
    EXPECT_EQ(image.height, 32u);
    png_image_free(&image);
}

TEST_F(ProgramTest, FailuresSayWhyOnOneLineExitNonZeroAndWriteNothing) {
    const std::string in = Input(40, 40);
    const std::string junk = dir_.file("junk.bmp");
    WriteFileBytes(junk, "not a bitmap at all");
    const std::string missing = dir_.file("missing.bmp");
    const std::string thin = dir_.file("thin.bmp");
    WriteFileBytes(thin, PatternBmp(1000, 1));
    BmpDesc huge;
    huge.width = 1 << 15;
    huge.height = (1 << 13) + 1;
    huge.pixels.assign(64, 0);
    const std::string giant = dir_.file("giant.bmp");
    WriteFileBytes(giant, BuildBmp(huge));
    const std::string pngAsJpeg = dir_.file("really-a-png.jpg");
    WriteFileBytes(pngAsJpeg, "\x89PNG\r\n\x1A\n and the rest");
    struct Case {
        std::vector<std::string> words;
        std::string output;
        int status;
        std::string message;
    };
    const std::string gif = dir_.file("out.gif"), jpg = dir_.file("out.jpg");
    const std::string nowhere = dir_.file("no-such-folder/out.png");
    const Case cases[] = {
        {{in, "20", "0", gif},
         gif,
         1,
         "lumora: cannot write '" + gif + "': unsupported output type\n"},
        {{missing, "20", "0", jpg},
         jpg,
         1,
         "lumora: cannot read '" + missing + "': No such file or directory\n"},
        {{junk, "20", "0", jpg},
         jpg,
         1,
         "lumora: cannot read '" + junk + "': too short for a BMP file\n"},
        {{giant, "20", "0", jpg},
         jpg,
         1,
         "lumora: cannot read '" + giant + "': more than 2^28 pixels (32768 x 8193)\n"},
        {{pngAsJpeg, "20", "0", jpg},
         jpg,
         1,
         "lumora: cannot read '" + pngAsJpeg + "': Not a JPEG file: starts with 0x89 0x50\n"},
        {{in, "20", "0", nowhere},
         nowhere,
         1,
         "lumora: cannot write '" + nowhere + "': No such file or directory\n"},
        {{in, "wide", "0", jpg}, jpg, 2, "lumora: width must be a whole number\n"},
        {{in, "20", "-3", jpg}, jpg, 2, "lumora: height must not be negative\n"},
        {{thin, "500", "0", jpg},
         jpg,
         1,
         "lumora: cannot write '" + jpg + "': '" + thin +
             "' (1000 x 1) fitted to 500 x 0 has no pixels\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"-resize"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const ProgramRun run = Resize(words);
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.message);
        EXPECT_FALSE(Exists(c.output));
    }
    ExpectNoSettingWritten();
}

TEST_F(ProgramTest, AFifoInputIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = dir_.file("pipe.jpg"), out = dir_.file("out.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const ProgramRun run = Start({"-resize", fifo, "10", "10", out}, std::chrono::seconds(20));
    ASSERT_TRUE(run.exited) << "still waiting on the FIFO";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lumora: cannot read '" + fifo + "': not a regular file\n");
    EXPECT_FALSE(Exists(out));
}

TEST_F(ProgramTest, AnExistingOutputIsLeftAloneWhenTheInputCannotBeRead) {
    const std::string out = dir_.file("keep.png");
    WriteFileBytes(out, "old");
    const ProgramRun run = Resize({"-resize", dir_.file("missing.bmp"), "10", "10", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFileBytes(out), "old");
}

TEST_F(ProgramTest, OtherCommandLinesAreNotResizeMode) {
    const std::string in = Input(40, 40);
    const std::string out = dir_.file("never.jpg");
    const std::vector<std::vector<std::string>> lines = {
        {"-Resize", in, "20", "0", out},
        {"-resize", in, "20", out},
        {"-resize", in, "20", "0", out, "extra"},
    };
    for (const auto& words : lines) {
        // A normal start may open the viewer (offscreen here); it is ended at the deadline.
        const ProgramRun run = Start(words, std::chrono::seconds(3), {"QT_QPA_PLATFORM=offscreen"});
        SCOPED_TRACE(words[0] + " with " + std::to_string(words.size()) + " words");
        if (run.exited) {
            EXPECT_EQ(run.status, 0) << run.err;
        }
        EXPECT_EQ(run.err.find("lumora: "), std::string::npos) << run.err;
        EXPECT_FALSE(Exists(out));
    }
}

TEST_F(ProgramTest, HelpAndVersion) {
    ProgramRun run = Start({"--help"}, std::chrono::seconds(60));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("lumora [IMAGE-OR-FOLDER]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("lumora -resize INPUT WIDTH HEIGHT OUTPUT"), std::string::npos);
    run = Start({"--version"}, std::chrono::seconds(60));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Lumora 2.4\n");
}

// Writes an opaque RGB PNG with libpng's simplified interface.
bool WritePng(const std::string& path, int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

TEST_F(ProgramTest, PngInputScalesToAJpeg) {
    if (!CreateReader("probe.png")) GTEST_SKIP() << "no PNG reader in this build yet";
    const std::string in = dir_.file("photo.png"), out = dir_.file("photo.jpg");
    ASSERT_TRUE(WritePng(in, 640, 480));
    const ProgramRun run = Resize({"-resize", in, "200", "0", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(JpegSize(ReadFileBytes(out)), std::make_pair(200, 150));
    ExpectNoSettingWritten();
}

}  // namespace
