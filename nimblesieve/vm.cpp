#include "nimblesieve/vm.h"

#include "nimblesieve/opcodes.h"

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_d_format and the magicless frame format
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace nimblesieve {

namespace {

std::string hexList(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "\"[";
    for (size_t i = 0; i < length; ++i) {
        if (i > 0)
            text += ", ";
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    text += "]\"";
    return text;
}

// Header and version checks shared by both loaders.
std::optional<Error> checkHeader(const uint8_t* data, size_t length)
{
    if (length < kHeaderSize || data[0] != kHeader[0] || data[1] != kHeader[1] || data[2] != kHeader[2])
        return Error::invalidHeader(data, std::min(length, kHeaderSize));
    if (data[3] != kHeader[3])
        return Error::unsupportedVersion(data[3]);
    return std::nullopt;
}

struct DCtxDeleter {
    void operator()(ZSTD_DCtx* ctx) const { ZSTD_freeDCtx(ctx); }
};

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

uint8_t compare(int64_t left, int64_t right)
{
    return left < right ? FlagLT : (left == right ? FlagEQ : FlagGT);
}

RunResult faultAt(Fault fault, size_t position, size_t target)
{
    std::fprintf(stderr, "nimblesieve: %s (branch at offset %zu, target %zu)\n", faultText(fault), position, target);
    return RunResult::fault(fault);
}

} // namespace

Error::Error(ErrorKind kind, std::string message) : m_kind(kind), m_message(std::move(message)) {}

Error Error::invalidHeader(const uint8_t* found, size_t foundLength)
{
    return Error(ErrorKind::InvalidHeader, "invalid header (expected " + hexList(kHeader, kHeaderSize)
                                               + ", found " + hexList(found, foundLength) + ")");
}

Error Error::unsupportedVersion(uint8_t version)
{
    return Error(ErrorKind::UnsupportedVersion, "version " + std::to_string(version) + " not supported");
}

Error Error::codeTooLarge() { return Error(ErrorKind::CodeTooLarge, "code too large"); }
Error Error::decodingError() { return Error(ErrorKind::DecodingError, "decoding error"); }
Error Error::invalidCode() { return Error(ErrorKind::InvalidCode, "invalid code"); }
Error Error::invalidWeekday() { return Error(ErrorKind::InvalidWeekday, "invalid weekday"); }

const char* faultText(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return "no fault";
    case Fault::NoCode:
        return "no code loaded";
    case Fault::BackwardBranch:
        return "only forward branches allowed";
    case Fault::TargetOutOfCode:
        return "branch target beyond the end of the code";
    }
    return "unknown fault";
}

Status Vm::load(const uint8_t* data, size_t length)
{
    if (auto error = checkHeader(data, length))
        return *error;

    std::unique_ptr<ZSTD_DCtx, DCtxDeleter> decoder(ZSTD_createDStream());
    if (!decoder || ZSTD_isError(ZSTD_DCtx_setParameter(decoder.get(), ZSTD_d_format, ZSTD_f_zstd1_magicless)))
        return Error::decodingError();

    std::vector<uint8_t> out;
    out.reserve(2 * length);
    out.assign(kHeader, kHeader + kHeaderSize);

    const size_t chunk = ZSTD_DStreamInSize();
    size_t produced = 0;
    bool finished = false;
    for (size_t offset = kHeaderSize; offset < length && !finished && produced < kMaxDecompressed; offset += chunk) {
        ZSTD_inBuffer in{data + offset, std::min(chunk, length - offset), 0};
        for (;;) {
            // Fill what is reserved first, then grow geometrically: most bodies are tiny.
            size_t room = out.capacity() > out.size() ? out.capacity() - out.size() : std::max<size_t>(out.size(), 256);
            room = std::min(room, kMaxDecompressed - produced);
            if (room == 0)
                break;
            out.resize(kHeaderSize + produced + room);
            ZSTD_outBuffer outBuffer{out.data() + kHeaderSize + produced, room, 0};
            const size_t hint = ZSTD_decompressStream(decoder.get(), &outBuffer, &in);
            produced += outBuffer.pos;
            out.resize(kHeaderSize + produced);
            if (ZSTD_isError(hint))
                return Error::decodingError();
            if (hint == 0) {
                finished = true;
                break;
            }
            // More input is needed unless the output filled up (then more may be buffered).
            if (in.pos == in.size && outBuffer.pos < outBuffer.size)
                break;
        }
    }
    // A frame cut short is a decoding error; one that outgrew the limit is too large.
    if (!finished && produced < kMaxDecompressed)
        return Error::decodingError();
    return loadUncompressed(out.data(), out.size());
}

Status Vm::loadUncompressed(const uint8_t* data, size_t length)
{
    if (auto error = checkHeader(data, length))
        return *error;
    if (length > kMaxCodeSize)
        return Error::codeTooLarge();
    std::vector<uint8_t> code;
    code.reserve(length + kPadding);
    code.assign(data, data + length);
    code.resize(length + kPadding, 0);
    m_code.swap(code);
    return Empty{};
}

RunResult Vm::run(int64_t dateMs, uint32_t timeMs, uint8_t weekday) const
{
    if (weekday > 7)
        return RunResult::failure(Error::invalidWeekday());
    const size_t size = m_code.size();
    if (size < kHeaderSize) {
        std::fprintf(stderr, "nimblesieve: %s\n", faultText(Fault::NoCode));
        return RunResult::fault(Fault::NoCode);
    }

    const uint8_t* p = m_code.data();
    // Selector & 3: accumulator, day number, time of day, weekday mask.
    int64_t values[4] = {0, dayNumber(dateMs), int64_t(timeMs), int64_t(1) << weekday};
    int64_t& a = values[0];
    uint8_t flags = 0;
    size_t pos = kHeaderSize;

    auto value = [&](uint8_t selector) { return values[selector & 3]; };
    auto bitClear = [&](uint8_t selector, uint8_t bit) { return ((uint64_t(value(selector)) >> (bit & 63)) & 1) == 0; };

    // The padding guarantees every operand of an instruction starting here is readable.
    while (size - pos >= kPadding + 2) {
        const uint8_t op = p[pos];
        bool taken = false;
        bool isLong = false;
        size_t next = pos + instructionLength(op);
        size_t target = 0;
        switch (op) {
        case JMP: taken = true; isLong = true; break;
        case JEQ: taken = flags & 1; isLong = true; break;
        case JGE: taken = flags & 3; isLong = true; break;
        case JGT: taken = flags & 2; isLong = true; break;
        case JLE: taken = flags & 5; isLong = true; break;
        case JLT: taken = flags & 4; isLong = true; break;
        case JNE: taken = flags & 6; isLong = true; break;
        case JMPS: taken = true; break;
        case JEQS: taken = flags & 1; break;
        case JGES: taken = flags & 3; break;
        case JGTS: taken = flags & 2; break;
        case JLES: taken = flags & 5; break;
        case JLTS: taken = flags & 4; break;
        case JNES: taken = flags & 6; break;
        case JBCS: taken = bitClear(p[pos + 1], p[pos + 2]); break;
        case JBSS: taken = !bitClear(p[pos + 1], p[pos + 2]); break;
        case JBC: taken = bitClear(p[pos + 1], p[pos + 2]); isLong = true; break;
        case JBS: taken = !bitClear(p[pos + 1], p[pos + 2]); isLong = true; break;
        case CMP: flags = compare(value(p[pos + 1]), value(p[pos + 2])); break;
        case CMPI8: flags = compare(value(p[pos + 1]), p[pos + 2]); break;
        case CMPI16: flags = compare(value(p[pos + 1]), be16(p + pos + 2)); break;
        case CMPI32: flags = compare(value(p[pos + 1]), int64_t(be32(p + pos + 2))); break;
        case CMPI64: flags = compare(value(p[pos + 1]), int64_t(be64(p + pos + 2))); break;
        case SETF: a = (flags & p[pos + 2]) != 0; break;
        case MOV: a = value(p[pos + 2]); break;
        case LDI8: a = p[pos + 2]; break;
        case TEST: flags = (value(p[pos + 1]) & value(p[pos + 2])) != 0 ? FlagLT : FlagEQ; break;
        case TESTI8: flags = (value(p[pos + 1]) & p[pos + 2]) != 0 ? FlagLT : FlagEQ; break;
        case XOR: a = value(p[pos + 2]) ^ value(p[pos + 3]); break;
        case XORI8: a = value(p[pos + 2]) ^ p[pos + 3]; break;
        default: break; // no-op
        }
        if (taken) {
            if (isLong) {
                target = be16(p + next - 2);
                if (target < next)
                    return faultAt(Fault::BackwardBranch, pos, target);
            } else {
                target = next + p[next - 1];
            }
            if (target > size)
                return faultAt(Fault::TargetOutOfCode, pos, target);
            next = target;
        }
        pos = next;
    }
    return RunResult::answer(a != 0);
}

Result<bool> evaluate(const uint8_t* data, size_t length, int64_t dateMs, uint32_t timeMs, uint8_t weekday)
{
    Vm vm;
    const Status loaded = vm.loadUncompressed(data, length);
    if (!loaded.ok())
        return loaded.error();
    const RunResult result = vm.run(dateMs, timeMs, weekday);
    if (result.error())
        return *result.error();
    if (!result.ok())
        return Error::invalidCode();
    return result.value();
}

} // namespace nimblesieve
