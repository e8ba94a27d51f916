#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/resize_mode.h"
#include "image/image.h"
#include "image/resample.h"
#include "support/temp_dir.h"

namespace {

// Batch resize reads a reduced picture's source through a few rows of working memory. Its
// output must be the very file that a load holding the whole source writes.
TEST(ResizeStreamTest, WritesTheFileAFullSourceLoadWrites) {
    BuildGammaTables();
    TempDir dir;
    int compared = 0;
    for (const char* format : {"jpeg", "png"}) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(CorpusPath(format))) {
            const std::string input = entry.path().string();
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".jpg" && ext != ".png")) continue;
            for (const auto& [w, h] : {std::pair{160, 160}, std::pair{0, 77}}) {
                const std::string streamed = dir.file("streamed.jpg");
                const std::string whole = dir.file("whole.jpg");
                std::filesystem::remove(streamed);
                std::filesystem::remove(whole);
                std::string error;
                const bool wrote = RunResize({input, w, h, streamed}, error);

                CImage image;
                image.LoadNow(input, w, h);
                if (image.GetWidth() > 0 && image.GetHeight() > 0) image.Save(whole);
                ASSERT_EQ(wrote, std::filesystem::exists(whole)) << input << ": " << error;
                if (!wrote) continue;
                EXPECT_TRUE(ReadFileBytes(streamed) == ReadFileBytes(whole)) << input << " " << w;
                compared += image.downscale;
            }
        }
    }
    // Most of the corpus is larger than the box: those went through the streamed path.
    EXPECT_GT(compared, 50);
}

}  // namespace
