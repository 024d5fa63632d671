// Predicate definitions, the moment they are evaluated against, and evaluation through
// the playlist's registry.
#include "playlist.h"
#include "predicatedatetime.h"
#include "slidepredicate.h"

#include "logcapture.h"
#include "pcode.h"

#include <nimblesieve/opcodes.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QTimeZone>

#include <sstream>

using namespace nimblesieve;
using testsupport::Bytes;
using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

QString base64(const Bytes& bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())).toBase64());
}

// Definition of a program given as its body.
QString definition(const Bytes& body, const QString& label = {})
{
    QString text = base64(testsupport::container(body));
    if (!label.isNull())
        text += QStringLiteral(" #") + label;
    return text;
}

const Bytes kWednesday = {CMPI8, WeekdayMask, 4, JNES, 3, LDI8, 0, 1};
const Bytes kAlways = {LDI8, 0, 1};
const Bytes kNever = {LDI8, 0, 0};
const Bytes kBackwardJump = {JMP, 0, 4, 0};

std::string text(const SlidePredicate& predicate)
{
    std::ostringstream out;
    out << predicate;
    return out.str();
}

// A content folder whose playlist.json holds just a predicate registry.
class RegistryContent {
public:
    explicit RegistryContent(const QStringList& definitions)
    {
        QFile file(m_dir.filePath(QStringLiteral("playlist.json")));
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(QJsonObject{{"predicates", QJsonArray::fromStringList(definitions)}}).toJson());
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

QDateTime local(int y, int m, int d, int h, int min, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s, ms), Qt::LocalTime);
}

} // namespace

TEST(SlidePredicate, DefinitionsAndTheirConstantAnswers)
{
    const QString version2 = [] {
        Bytes c = testsupport::container(kAlways);
        c[3] = 2;
        return base64(c);
    }();
    struct Case {
        const char* name;
        QString definition;
        bool loaded;
        bool defaultResult;
        QString label;
        std::vector<std::string> log;
        std::string textForm; // empty: starts with "SlidePredicate 0x"
    };
    const Case cases[] = {
        {"empty", "", false, true, "", {"W:Treating empty predicate as always true."}, "SlidePredicate  defaultResult=1"},
        {"label only", " #morning", false, true, "morning", {}, "SlidePredicate  defaultResult=1 (morning)"},
        {"two separators", "abc #x #y", false, true, "", {"E:Invalid NS predicate definition: abc #x #y"},
         "SlidePredicate  defaultResult=1"},
        {"version 2 pcode", version2 + " # late shift ", false, false, "late shift",
         {("E:Predicate pcode invalid or unsupported. Treating as always false: " + version2 + " # late shift ").toStdString()},
         "SlidePredicate  defaultResult=0 (late shift)"},
        {"bytes that are no container", "AAAA", false, false, "",
         {"E:Predicate pcode invalid or unsupported. Treating as always false: AAAA"}, "SlidePredicate  defaultResult=0"},
        {"nothing decodes", "!!! ???", false, true, "", {}, "SlidePredicate  defaultResult=1"},
        {"valid pcode with label", definition(kWednesday, "  weekdays\t"), true, true, "weekdays", {}, ""},
        {"valid pcode without label", definition(kWednesday), true, true, "", {}, ""},
        {"line breaks and stray characters are skipped",
         [] {
             QString d = definition(kWednesday);
             d.insert(8, QStringLiteral("\n"));
             d.insert(3, QStringLiteral("*"));
             return d;
         }(),
         true, true, "", {}, ""},
        {"a hash without the space is part of the base64", base64(testsupport::container(kAlways)) + "#x", true, true,
         "", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        const SlidePredicate predicate(c.definition);
        EXPECT_EQ(predicate.hasProgram(), c.loaded);
        EXPECT_EQ(predicate.getDefaultResult(), c.defaultResult);
        EXPECT_EQ(predicate.getLabel(), c.label);
        EXPECT_EQ(log.summary(), c.log);
        if (c.textForm.empty()) {
            EXPECT_EQ(text(predicate).rfind("SlidePredicate 0x", 0), 0u) << text(predicate);
            if (!c.label.isEmpty()) {
                EXPECT_NE(text(predicate).find(" (" + c.label.toStdString() + ")"), std::string::npos);
            }
        } else {
            EXPECT_EQ(text(predicate), c.textForm);
        }
        if (!c.loaded) {
            EXPECT_EQ(predicate.evaluate(PredicateDateTime(local(2026, 12, 9, 10, 0))), c.defaultResult);
        }
    }
}

TEST(SlidePredicate, EvaluatesItsProgramAgainstTheLocalMoment)
{
    const SlidePredicate wednesday(definition(kWednesday));
    struct Case {
        QDateTime when;
        bool expected;
    };
    const Case cases[] = {
        {local(2026, 12, 9, 0, 0), true},          // Wednesday
        {local(2026, 12, 9, 23, 59, 59, 999), true},
        {local(2026, 12, 10, 0, 0), false},        // Thursday
        {local(2026, 12, 8, 12, 0), false},        // Tuesday
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when.toString(Qt::ISODateWithMs).toStdString());
        EXPECT_EQ(wednesday.evaluate(PredicateDateTime(c.when)), c.expected);
    }
}

TEST(SlidePredicate, RunFailuresAnswerFalseAndSayWhichPredicate)
{
    struct Case {
        const char* name;
        Bytes body;
        QDateTime when;
    };
    const Case cases[] = {
        {"backward branch", kBackwardJump, local(2026, 12, 9, 10, 0)},
        {"invalid date", kAlways, QDateTime()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SlidePredicate predicate(definition(c.body, "broken"));
        ASSERT_TRUE(predicate.hasProgram());
        LogCapture log;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(predicate.evaluate(PredicateDateTime(c.when)));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(log.summary(), std::vector<std::string>{"E:Failed to evaluate " + text(predicate)});
        EXPECT_EQ(text(predicate).substr(text(predicate).size() - 9), " (broken)");
    }
}

TEST(SlidePredicate, MovingHandsOverTheProgramAndFreeingIsLogged)
{
    Verbosity verbose(3);
    LogCapture log;
    SlidePredicate original(definition(kWednesday, "mid-week"));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].message.rfind("Loaded " + std::to_string(testsupport::container(kWednesday).size())
                                               + " bytes of pcode from " + definition(kWednesday, "mid-week").toStdString()
                                               + " into 0x",
                                           0),
              0u)
        << log.lines()[0].message;

    SlidePredicate moved(std::move(original));
    EXPECT_FALSE(original.hasProgram());
    EXPECT_TRUE(original.getLabel().isEmpty());
    EXPECT_TRUE(moved.hasProgram());
    EXPECT_EQ(moved.getLabel(), "mid-week");
    EXPECT_TRUE(moved.evaluate(PredicateDateTime(local(2026, 12, 9, 10, 0))));

    SlidePredicate other(definition(kNever));
    const std::string freedAddress = text(other).substr(std::string("SlidePredicate ").size());
    log.clear();
    other = std::move(moved);
    EXPECT_EQ(log.summary(), std::vector<std::string>{"I:Freeing " + freedAddress});
    EXPECT_TRUE(other.evaluate(PredicateDateTime(local(2026, 12, 9, 10, 0))));

    std::vector<SlidePredicate> registry;
    for (int i = 0; i < 20; ++i) // growth moves the elements; every program must survive it
        registry.emplace_back(definition(i % 2 ? kAlways : kNever));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(registry[size_t(i)].evaluate(PredicateDateTime(local(2026, 12, 9, 10, 0))), i % 2 == 1);
}

TEST(SlidePredicate, FailedLoadFreesTheVm)
{
    Verbosity verbose(3);
    LogCapture log;
    const SlidePredicate predicate(QStringLiteral("AAAA"));
    const auto lines = log.summary();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "E:Predicate pcode invalid or unsupported. Treating as always false: AAAA");
    EXPECT_EQ(lines[1].rfind("I:Freeing 0x", 0), 0u) << lines[1];
}

// The values the VM sees. The test runs once in Europe/Berlin (daylight saving time) and
// once in UTC; both columns are written out.
TEST(PredicateDateTime, LocalDateTimeOfDayAndWeekday)
{
    const bool berlin = qgetenv("TZ") == "Europe/Berlin";
    ASSERT_TRUE(berlin || qgetenv("TZ") == "UTC") << "run with TZ=Europe/Berlin or TZ=UTC";
    constexpr int64_t day = 86400000;
    const int64_t dec9 = 20796 * day;  // 2026-12-09, a Wednesday
    const int64_t mar29 = 20541 * day; // 2026-03-29, a Sunday: clocks go 02:00 -> 03:00 in Berlin
    const int64_t oct25 = 20751 * day; // 2026-10-25, a Sunday: clocks go 03:00 -> 02:00 in Berlin
    struct Case {
        const char* name;
        qint64 utcMs; // the instant
        int64_t berlinDate, berlinTime;
        int berlinWeekday;
        int64_t utcDate, utcTime;
        int utcWeekday;
    };
    const Case cases[] = {
        {"Wednesday noon UTC", dec9 + 12 * 3600000, dec9, 13 * 3600000, 2, dec9, 12 * 3600000, 2},
        {"last millisecond of a Berlin day", dec9 + 23 * 3600000 - 1, dec9, day - 1, 2, dec9, 23 * 3600000 - 1, 2},
        {"first millisecond of a Berlin day", dec9 + 23 * 3600000, dec9 + day, 0, 3, dec9, 23 * 3600000, 2},
        {"last millisecond of a UTC day", dec9 + day - 1, dec9 + day, 3600000 - 1, 3, dec9, day - 1, 2},
        {"first millisecond of a UTC day", dec9 + day, dec9 + day, 3600000, 3, dec9 + day, 0, 3},
        {"Sunday before the spring change", mar29 + 3600000 - 1, mar29, 2 * 3600000 - 1, 6, mar29, 3600000 - 1, 6},
        {"Sunday after the spring change", mar29 + 3600000, mar29, 3 * 3600000, 6, mar29, 3600000, 6},
        {"Monday after the spring change", mar29 + 22 * 3600000, mar29 + day, 0, 0, mar29, 22 * 3600000, 6},
        {"02:30 summer time on the autumn change", oct25 + 30 * 60000, oct25, 150 * 60000, 6, oct25, 30 * 60000, 6},
        {"02:30 winter time on the autumn change", oct25 + 90 * 60000, oct25, 150 * 60000, 6, oct25, 90 * 60000, 6},
        {"Monday after the autumn change", oct25 + 23 * 3600000, oct25 + day, 0, 0, oct25, 23 * 3600000, 6},
        {"before the epoch", -1, 0, 3600000 - 1, 3, -day, day - 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PredicateDateTime moment;
        moment.setMSecsSinceEpoch(c.utcMs);
        EXPECT_EQ(moment.dateInMilliseconds(), berlin ? c.berlinDate : c.utcDate);
        EXPECT_EQ(int64_t(moment.timeInMilliseconds()), berlin ? c.berlinTime : c.utcTime);
        EXPECT_EQ(moment.weekday(), berlin ? c.berlinWeekday : c.utcWeekday);
    }
}

TEST(PredicateDateTime, DefaultIsNowInTheSystemZoneAndInvalidValuesAreHarmless)
{
    const PredicateDateTime now;
    EXPECT_EQ(now.dateTime().timeZone(), QTimeZone::systemTimeZone());
    EXPECT_LE(std::llabs(now.dateTime().toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch()), 60000);

    const PredicateDateTime invalid{QDateTime()};
    EXPECT_EQ(invalid.weekday(), -1);
    EXPECT_EQ(invalid.timeInMilliseconds(), 0u);
    EXPECT_EQ(invalid.dateInMilliseconds(), 0);
}

TEST(PlaylistPredicates, EvaluationByRegistryIndex)
{
    RegistryContent content({definition(kAlways), definition(kNever), definition(kWednesday)});
    QQmlEngine engine;
    Playlist playlist(content.path(), engine);
    const PredicateDateTime wednesday(local(2026, 12, 9, 10, 0));
    const PredicateDateTime thursday(local(2026, 12, 10, 10, 0));

    struct Case {
        const char* name;
        QString index;
        const PredicateDateTime& when;
        bool expected;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"always", "0", wednesday, true, {}},
        {"never", "1", wednesday, false, {}},
        {"weekday on Wednesday", "2", wednesday, true, {}},
        {"weekday on Thursday", "2", thursday, false, {}},
        {"NULL", "NULL", wednesday, false, {"W:Trying to evaluate NULL predicate NULL"}},
        {"not a number", "first", wednesday, false,
         {"E:Predicate should be an integer index into the predicate registry of the playlist. Received first"}},
        {"empty text", "", wednesday, false,
         {"E:Predicate should be an integer index into the predicate registry of the playlist. Received "}},
        {"past the registry", "3", wednesday, false,
         {"E:Predicate index 3 is outside the predicate registry of 3 entries"}},
        {"negative", "-1", wednesday, false, {"E:Predicate index -1 is outside the predicate registry of 3 entries"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(playlist.evaluatePredicate(c.index, c.when), c.expected);
        EXPECT_EQ(log.summary(), c.log);
    }
}

TEST(PlaylistPredicates, VerboseLinesAndTheInvokableForQml)
{
    RegistryContent content({definition(kAlways, "all day"), definition(kNever)});
    QQmlEngine engine;
    Playlist playlist(content.path(), engine);

    Verbosity verbose(3);
    LogCapture log;
    bool answer = false;
    // Only what the evaluation itself writes counts.
    ASSERT_TRUE(QMetaObject::invokeMethod(&playlist, "evaluatePredicate", Q_RETURN_ARG(bool, answer),
                                          Q_ARG(QString, QStringLiteral("0"))));
    EXPECT_TRUE(answer);
    const auto lines = log.summary();
    const std::string form = text(playlist.predicates()[0]);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "I:Should evaluate predicate #0");
    EXPECT_EQ(lines[1].rfind("I:Evaluated " + form + " on ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), " to 1");
    EXPECT_EQ(lines[2], "I:Evaluated " + form + " to 1");
    EXPECT_FALSE(playlist.evaluatePredicate(QStringLiteral("1")));
}

TEST(PlaylistPredicates, ValidateChecksEveryIndexAgainstTheRegistry)
{
    std::vector<SlidePredicate> two;
    two.emplace_back(QString());
    two.emplace_back(QString());
    const std::vector<SlidePredicate> none;
    struct Case {
        const char* name;
        const std::vector<SlidePredicate>& registry;
        std::vector<SlideInfo> slides;
        bool expected;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"all in range", two, {{"a", {0, 1}}, {"b", {1}}}, true, {}},
        {"no slides", none, {}, true, {}},
        {"empty lists pass an empty registry", none, {{"a", {}}}, true, {}},
        {"index equal to the size", two, {{"intro", {0, 2}}}, false,
         {"W:Slide intro is invalid due to an out of bounds predicate index: 2"}},
        {"negative index", two, {{"neg", {-1}}}, false, {"W:Slide neg is invalid due to an out of bounds predicate index: -1"}},
        {"only the first bad index is named", two, {{"a", {0}}, {"b", {5, 7}}, {"c", {9}}}, false,
         {"W:Slide b is invalid due to an out of bounds predicate index: 5"}},
        {"any index against an empty registry", none, {{"a", {0}}}, false,
         {"W:Slide a is invalid due to an out of bounds predicate index: 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(Playlist::validate(c.registry, c.slides), c.expected);
        EXPECT_EQ(log.summary(), c.log);
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
