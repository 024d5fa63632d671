#include "playlistparser.h"

#include "logging.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <climits>
#include <cmath>

namespace {

const char kLogPrefix[] = "[Playlist] ";

// A registry index: a number with an integral value; anything else counts as 0. An
// integral value beyond the int range becomes -1, so that validation rejects the file
// instead of silently pointing the slide at entry 0.
int registryIndex(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number))
        return 0;
    if (number < double(INT_MIN) || number > double(INT_MAX))
        return -1;
    return int(number);
}

} // namespace

PlaylistParser::PlaylistParser(const QString& contentPath, Decrypter decrypter)
    : m_contentPath(contentPath)
    , m_decrypter(std::move(decrypter))
{
    RawPlaylist raw = readPlaylist();
    m_predicates = raw.predicates;
    m_slides = raw.slides;
    m_metadata = raw.metadata;
    m_cipherData = raw.cipherData;
}

PlaylistParser::RawPlaylist PlaylistParser::readPlaylist() const
{
    QFile file(QDir(m_contentPath).filePath(QStringLiteral("playlist.json")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        VLOG(1) << kLogPrefix << "Playlist file does not exist";
        return {};
    }
    return splitPlaylist(file.readAll());
}

PlaylistParser::RawPlaylist PlaylistParser::splitPlaylist(const QByteArray& text)
{
    // Parse errors give an empty root, which then lacks the registry.
    const QJsonObject root = QJsonDocument::fromJson(text).object();
    if (!root.contains(QStringLiteral("predicates"))) {
        LOG(WARNING) << kLogPrefix
                     << "Playlist is missing a predicate registry and is likely an older version. Refusing to load it.";
        return {};
    }
    if (!root.contains(QStringLiteral("slides")))
        VLOG(1) << kLogPrefix << "Playlist file has no slides";
    if (!root.contains(QStringLiteral("metadata")))
        VLOG(1) << kLogPrefix << "Playlist file has no metadata";

    RawPlaylist raw;
    raw.predicates = root.value(QStringLiteral("predicates")).toArray();
    raw.slides = root.value(QStringLiteral("slides")).toArray();
    raw.metadata = root.value(QStringLiteral("metadata")).toObject();
    raw.cipherData = root.value(QStringLiteral("cipher_data")).toObject();
    return raw;
}

std::vector<SlidePredicate> PlaylistParser::parsePredicates(const QJsonArray& predicates)
{
    std::vector<SlidePredicate> registry;
    registry.reserve(size_t(predicates.size()));
    for (const QJsonValue& definition : predicates)
        registry.emplace_back(definition.toString()); // not a string: empty, always true
    return registry;
}

std::vector<SlideInfo> PlaylistParser::parsePlaylistSlides(const QJsonArray& slides)
{
    std::vector<SlideInfo> result;
    result.reserve(size_t(slides.size()));
    for (const QJsonValue& element : slides) {
        const QJsonObject slide = element.toObject();
        SlideInfo info;
        const QJsonArray indexes = slide.value(QStringLiteral("predicates")).toArray();
        for (const QJsonValue& index : indexes)
            info.predicates.push_back(registryIndex(index));
        info.name = slide.value(QStringLiteral("name")).toString();
        result.push_back(std::move(info));
    }
    return result;
}

KestrovaMetadata PlaylistParser::parseMetadata(const QJsonObject& metadata, const QJsonObject& cipherData) const
{
    return KestrovaMetadata(metadata, cipherData, m_decrypter);
}
