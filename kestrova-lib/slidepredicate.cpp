#include "slidepredicate.h"

#include "logging.h"

#include <QByteArray>
#include <QStringList>

#include <utility>

SlidePredicate::SlidePredicate(const QString& definition)
{
    const QStringList pieces = definition.split(QStringLiteral(" #"), Qt::KeepEmptyParts);
    if (definition.isEmpty()) {
        LOG(WARNING) << "Treating empty predicate as always true.";
        return;
    }
    if (pieces.size() > 2) {
        LOG(ERROR) << "Invalid NS predicate definition: " << definition;
        return;
    }
    if (pieces.size() == 2)
        label = pieces.at(1).trimmed();

    // Lenient: characters outside the base64 alphabet are skipped.
    const QByteArray pcode = QByteArray::fromBase64(pieces.at(0).toUtf8());
    if (pcode.isEmpty())
        return;

    vm = nimblesieve_vm_new();
    if (nimblesieve_vm_load(vm, size_t(pcode.size()), reinterpret_cast<const uint8_t*>(pcode.constData())) == -1) {
        LOG(ERROR) << "Predicate pcode invalid or unsupported. Treating as always false: " << definition;
        freeVm();
        defaultResult = false;
        return;
    }
    VLOG(1) << "Loaded " << pcode.size() << " bytes of pcode from " << definition << " into "
            << static_cast<const void*>(vm);
}

SlidePredicate::SlidePredicate(SlidePredicate&& other) noexcept
    : label(std::exchange(other.label, QString()))
    , defaultResult(other.defaultResult)
    , vm(std::exchange(other.vm, nullptr))
{
}

SlidePredicate& SlidePredicate::operator=(SlidePredicate&& other) noexcept
{
    if (this != &other) {
        freeVm();
        label = std::exchange(other.label, QString());
        defaultResult = other.defaultResult;
        vm = std::exchange(other.vm, nullptr);
    }
    return *this;
}

SlidePredicate::~SlidePredicate()
{
    freeVm();
}

void SlidePredicate::freeVm()
{
    if (!vm)
        return;
    VLOG(3) << "Freeing " << static_cast<const void*>(vm);
    nimblesieve_vm_free(vm);
    vm = nullptr;
}

bool SlidePredicate::evaluate(const PredicateDateTime& time) const
{
    if (!vm)
        return defaultResult;
    const int64_t dateMs = time.dateInMilliseconds();
    const uint32_t timeMs = time.timeInMilliseconds();
    const int weekday = time.weekday();
    const int8_t result = nimblesieve_vm_run(vm, dateMs, timeMs, uint8_t(weekday));
    VLOG(2) << "Evaluated " << *this << " on " << dateMs << ", " << timeMs << ", " << weekday << " to "
            << int(uint8_t(result));
    if (result == -1) {
        // A program that cannot run (or an invalid date) never lets its build play.
        LOG(ERROR) << "Failed to evaluate " << *this;
        return false;
    }
    return result == 1;
}

std::ostream& operator<<(std::ostream& stream, const SlidePredicate& predicate)
{
    stream << "SlidePredicate ";
    if (predicate.vm)
        stream << static_cast<const void*>(predicate.vm);
    else
        stream << " defaultResult=" << (predicate.defaultResult ? 1 : 0);
    if (!predicate.label.isEmpty())
        stream << " (" << predicate.label << ")";
    return stream;
}
