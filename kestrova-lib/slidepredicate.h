// A scheduling predicate of the playlist's registry: a loaded pcode program, or a
// constant answer when the definition gave none that could be used.
#pragma once

#include "predicatedatetime.h"

#include <nimblesieve/nimblesieve.h>

#include <QString>

#include <memory>
#include <ostream>

class SlidePredicate {
public:
    // Definition text: base64 pcode, optionally followed by " #" and a label. Never fails:
    // an unusable definition gives a constant predicate, with a log line.
    explicit SlidePredicate(const QString& definition);
    SlidePredicate(SlidePredicate&& other) noexcept;
    SlidePredicate& operator=(SlidePredicate&& other) noexcept;
    SlidePredicate(const SlidePredicate&) = delete;
    SlidePredicate& operator=(const SlidePredicate&) = delete;
    ~SlidePredicate();

    bool evaluate(const PredicateDateTime& time) const;

    const QString& getLabel() const { return label; }
    bool getDefaultResult() const { return defaultResult; }
    bool hasProgram() const { return vm != nullptr; }

    friend std::ostream& operator<<(std::ostream& stream, const SlidePredicate& predicate);

private:
    void freeVm();

    QString label;
    bool defaultResult = true;
    nimblesieve_vm* vm = nullptr;
};
