// Fuzz target for the scene file: Decode on arbitrary bytes must either refuse them with a
// reason and no scenes, or give scenes that keep every rule of the file and survive being
// written and read back unchanged.

#define DS_FUZZ_TARGET "fuzz_scenes"
#include "Check.h"

#include "faders/Scene.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const SceneFile::ReadResult read = SceneFile::Decode(bytes);
    if (!read.ok()) {
        Check(read.scenes.isEmpty(), "a refused file gave scenes");
        Check(!read.reason.isEmpty(), "a refused file without a reason");
        return 0;
    }
    for (const Scene &scene : read.scenes) {
        Check(SceneFile::NameProblem(scene.name).isEmpty(), "a scene with a bad name");
        Check(SceneFile::IndexOf(read.scenes, scene.name) >= 0, "a name not found");
        Check(scene.outChan >= 0 && scene.outChan <= 1024, "an output channel off the table");
        Check(scene.gains.size() <= 1025, "more gains than channels");
        for (qsizetype i = 0; i < scene.gains.size(); ++i) {
            const auto [channel, gain] = scene.gains[i];
            Check(channel >= 0 && channel <= 1024 && gain >= 0 && gain <= 16383,
                  "a gain off the table");
            Check(i == 0 || scene.gains[i - 1].first < channel, "gains not in channel order");
        }
    }
    const QByteArray written = SceneFile::Encode(read.scenes);
    const SceneFile::ReadResult again = SceneFile::Decode(written);
    Check(again.ok(), "written scenes do not read back");
    Check(again.scenes == read.scenes, "scenes read back differ");
    Check(SceneFile::Encode(again.scenes) == written, "a second write differs from the first");
    return 0;
}
