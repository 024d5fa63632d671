// libFuzzer target over the playlist parser and predicate construction. The first byte
// chooses: even, the rest is a playlist file; odd, the rest is one predicate definition.
#include "kestrovametadata.h"
#include "playlist.h"
#include "playlistparser.h"

#include <QByteArray>
#include <QDateTime>

#include <glog/logging.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FLAGS_logtostderr = true; // never log files
    FLAGS_minloglevel = google::GLOG_FATAL;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const PredicateDateTime moments[] = {
        PredicateDateTime(QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC)),
        PredicateDateTime(QDateTime()),
    };

    if (data[0] & 1) {
        const SlidePredicate predicate(QString::fromUtf8(input));
        for (const auto& moment : moments)
            Playlist::evaluatePredicate(predicate, moment);
        return 0;
    }

    const PlaylistParser::RawPlaylist raw = PlaylistParser::splitPlaylist(input);
    const std::vector<SlidePredicate> predicates = PlaylistParser::parsePredicates(raw.predicates);
    const std::vector<SlideInfo> slides = PlaylistParser::parsePlaylistSlides(raw.slides);
    if (Playlist::validate(predicates, slides)) {
        for (const SlideInfo& slide : slides)
            for (const int index : slide.predicates)
                Playlist::evaluatePredicate(predicates.at(size_t(index)), moments[0]);
    }
    const KestrovaMetadata metadata(raw.metadata, raw.cipherData, Decrypter());
    metadata.getHeaders();
    metadata.json();
    return 0;
}
