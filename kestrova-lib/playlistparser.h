// Reads playlist.json once and converts its parts on request: the predicate registry,
// the slide list and the device metadata. Every accessor call builds new objects.
#pragma once

#include "decrypter.h"
#include "kestrovametadata.h"
#include "slideinfo.h"
#include "slidepredicate.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <vector>

class PlaylistParser {
public:
    // The four raw parts of a playlist file; all empty when it is missing or refused.
    struct RawPlaylist {
        QJsonArray predicates;
        QJsonArray slides;
        QJsonObject metadata;
        QJsonObject cipherData;
    };

    PlaylistParser(const QString& contentPath, Decrypter decrypter);

    RawPlaylist readPlaylist() const;
    // Splits the text of a playlist file into its raw parts.
    static RawPlaylist splitPlaylist(const QByteArray& text);

    std::vector<SlidePredicate> predicates() const { return parsePredicates(m_predicates); }
    static std::vector<SlidePredicate> parsePredicates(const QJsonArray& predicates);
    std::vector<SlideInfo> slides() const { return parsePlaylistSlides(m_slides); }
    static std::vector<SlideInfo> parsePlaylistSlides(const QJsonArray& slides);
    KestrovaMetadata metadata() const { return parseMetadata(m_metadata, m_cipherData); }
    KestrovaMetadata parseMetadata(const QJsonObject& metadata, const QJsonObject& cipherData) const;

private:
    QString m_contentPath;
    QJsonArray m_predicates;
    QJsonArray m_slides;
    QJsonObject m_metadata;
    QJsonObject m_cipherData;
    Decrypter m_decrypter;
};
