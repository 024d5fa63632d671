// Turns a schedule expression into pcode for nimblesieve, and pcode into the definition
// text a playlist carries.
#pragma once

#include "predicateexpr.h"

#include <nimblesieve/vm.h>

#include <QByteArray>
#include <QString>

#include <optional>

namespace predicate {

class PredicateCompiler {
public:
    // Largest body the VM loads.
    static constexpr int kMaxBodySize = int(nimblesieve::kMaxCodeSize - nimblesieve::kHeaderSize);

    // The program body: tests with short-circuit forward branches, then "A = 1", then one
    // byte the VM never executes, where every false path ends. Nothing, with error() set,
    // when the body would not fit.
    std::optional<QByteArray> compile(const Expr& expr);
    const QString& error() const { return m_error; }

    // Header, then the body as a magicless zstd frame.
    static QByteArray container(const QByteArray& body);
    // Base64 of the container, then " #" and the label when there is one.
    static QString definition(const QByteArray& container, const QString& label = QString());

private:
    QString m_error;
};

} // namespace predicate
