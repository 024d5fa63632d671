// Reading playlist.json into the registry, the slide list and the metadata.
#include "playlist.h"
#include "playlistparser.h"

#include "logcapture.h"
#include "pcode.h"

#include <nimblesieve/opcodes.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

// A content folder with the given playlist.json (none when text is null).
class Content {
public:
    explicit Content(const char* text)
    {
        if (!text)
            return;
        QFile file(m_dir.filePath("playlist.json"));
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

std::vector<std::pair<std::string, std::vector<int>>> slideList(const std::vector<SlideInfo>& slides)
{
    std::vector<std::pair<std::string, std::vector<int>>> result;
    for (const auto& slide : slides)
        result.emplace_back(slide.name.toStdString(), slide.predicates);
    return result;
}

const std::string kRefused =
    "W:[Playlist] Playlist is missing a predicate registry and is likely an older version. Refusing to load it.";

} // namespace

TEST(PlaylistParser, FilesAndTheirParts)
{
    struct Case {
        const char* name;
        const char* file; // null: no playlist.json
        size_t predicates;
        std::vector<std::pair<std::string, std::vector<int>>> slides;
        bool metadataEmpty;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"no file", nullptr, 0, {}, true, {"I:[Playlist] Playlist file does not exist"}},
        {"slides without registry", R"({"slides": [{"name": "a", "predicates": [0]}], "metadata": {"hostname": "h"}})",
         0, {}, true, {kRefused}},
        {"not JSON", "{ this is not json", 0, {}, true, {kRefused}},
        {"root is an array", R"([{"predicates": []}])", 0, {}, true, {kRefused}},
        {"empty registry only", R"({"predicates": []})", 0, {}, true,
         {"I:[Playlist] Playlist file has no slides", "I:[Playlist] Playlist file has no metadata"}},
        {"complete", R"({"predicates": ["", ""], "slides": [{"name": "intro", "predicates": [1, 0]}],
                         "metadata": {"hostname": "h"}, "cipher_data": {}, "extra": 1})",
         2, {{"intro", {1, 0}}}, false, {}},
        {"lenient slides", R"({"predicates": [""], "metadata": {},
                                "slides": [{"name": "intro"}, {"name": "a", "predicates": [1.5, "2", 3, null, -4]},
                                           "not an object", {"name": 5, "predicates": {"0": 1}},
                                           {"name": "big", "predicates": [1e12, -1e12]}]})",
         1, {{"intro", {}}, {"a", {0, 0, 3, 0, -4}}, {"", {}}, {"", {}}, {"big", {-1, -1}}}, true, {}},
        {"wrongly typed top-level parts", R"({"predicates": "x", "slides": {}, "metadata": [], "cipher_data": 3})", 0,
         {}, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Content content(c.file);
        Verbosity verbose(1);
        LogCapture log;
        const PlaylistParser parser(content.path(), Decrypter());
        EXPECT_EQ(log.summary(), c.log);
        EXPECT_EQ(parser.predicates().size(), c.predicates);
        EXPECT_EQ(slideList(parser.slides()), c.slides);
        EXPECT_EQ(parser.metadata().isEmpty(), c.metadataEmpty);
    }
}

TEST(PlaylistParser, RegistryEntriesBecomePredicatesInOrder)
{
    const auto base64 = [](const testsupport::Bytes& body) {
        const auto c = testsupport::container(body);
        return QByteArray(reinterpret_cast<const char*>(c.data()), int(c.size())).toBase64().toStdString();
    };
    const std::string always = base64({nimblesieve::LDI8, 0, 1});
    const std::string never = base64({nimblesieve::LDI8, 0, 0});
    const std::string text = R"({"predicates": [")" + never + R"( #closed", 42, null, ")" + always + R"( #open"]})";
    const Content content(text.c_str());
    LogCapture log;
    const PlaylistParser parser(content.path(), Decrypter());
    const auto registry = parser.predicates();
    ASSERT_EQ(registry.size(), 4u);
    const PredicateDateTime now;
    EXPECT_FALSE(registry[0].evaluate(now));
    EXPECT_EQ(registry[0].getLabel(), "closed");
    // A number or null is an empty definition: always true, with the empty-predicate warning.
    EXPECT_TRUE(registry[1].evaluate(now));
    EXPECT_FALSE(registry[1].hasProgram());
    EXPECT_TRUE(registry[2].evaluate(now));
    EXPECT_TRUE(registry[3].evaluate(now));
    EXPECT_EQ(registry[3].getLabel(), "open");
    EXPECT_EQ(log.messages(google::GLOG_WARNING),
              (std::vector<std::string>{"Treating empty predicate as always true.", "Treating empty predicate as always true."}));

    // Each call builds its own predicates with their own programs.
    const auto again = parser.predicates();
    std::ostringstream first, second;
    first << registry[0];
    second << again[0];
    EXPECT_NE(first.str(), second.str());
    EXPECT_FALSE(again[0].evaluate(now));
}

TEST(PlaylistParser, TrailingSeparatorOnTheFolderAndValidation)
{
    const Content content(R"({"predicates": [""], "slides": [{"name": "a", "predicates": [0, 1]}]})");
    const PlaylistParser parser(content.path() + "/", Decrypter());
    const auto predicates = parser.predicates();
    const auto slides = parser.slides();
    ASSERT_EQ(slides.size(), 1u);
    LogCapture log;
    EXPECT_FALSE(Playlist::validate(predicates, slides));
    EXPECT_EQ(log.summary(), std::vector<std::string>{"W:Slide a is invalid due to an out of bounds predicate index: 1"});
}
