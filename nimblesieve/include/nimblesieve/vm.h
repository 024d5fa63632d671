// Library-level interface of the predicate VM. The C interface in nimblesieve.h is built
// on this; errors here carry their kind and message text, which never cross the C side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace nimblesieve {

enum class ErrorKind {
    InvalidHeader,
    UnsupportedVersion,
    CodeTooLarge,
    DecodingError,
    InvalidCode,
    InvalidWeekday,
};

class Error {
public:
    static Error invalidHeader(const uint8_t* found, size_t foundLength);
    static Error unsupportedVersion(uint8_t version);
    static Error codeTooLarge();
    static Error decodingError();
    static Error invalidCode();
    static Error invalidWeekday();

    ErrorKind kind() const { return m_kind; }
    const std::string& message() const { return m_message; }

private:
    Error(ErrorKind kind, std::string message);
    ErrorKind m_kind;
    std::string m_message;
};

// Either a value or an Error.
template <typename T>
class Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_value(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_value); }
    const T& value() const { return std::get<T>(m_value); }
    const Error& error() const { return std::get<Error>(m_value); }

private:
    std::variant<T, Error> m_value;
};

struct Empty {};
using Status = Result<Empty>;

// What stopped a run before it could answer. Faults are not errors: the C interface
// reports them as failure and the library writes a diagnostic line on standard error.
enum class Fault {
    None,
    NoCode,          // nothing loaded
    BackwardBranch,  // "only forward branches allowed"
    TargetOutOfCode, // branch target beyond the padded buffer
};

const char* faultText(Fault fault);

// The answer of one run: a value, an error (invalid weekday) or a fault.
class RunResult {
public:
    static RunResult answer(bool value) { return RunResult(value, Fault::None, std::nullopt); }
    static RunResult fault(Fault fault) { return RunResult(false, fault, std::nullopt); }
    static RunResult failure(Error error) { return RunResult(false, Fault::None, std::move(error)); }

    bool ok() const { return m_fault == Fault::None && !m_error; }
    bool value() const { return m_value; }
    Fault faultKind() const { return m_fault; }
    const std::optional<Error>& error() const { return m_error; }

private:
    RunResult(bool value, Fault fault, std::optional<Error> error)
        : m_value(value), m_fault(fault), m_error(std::move(error)) {}
    bool m_value;
    Fault m_fault;
    std::optional<Error> m_error;
};

// Header of both the compressed container and the uncompressed form: "NS", 0, version 1.
constexpr uint8_t kHeader[4] = {0x4E, 0x53, 0x00, 0x01};
constexpr size_t kHeaderSize = 4;
constexpr size_t kPadding = 32;
// Header plus body must stay below this; with the padding every position fits 16 bits.
constexpr size_t kMaxCodeSize = 65503;
// The decompressor stops after this many body bytes.
constexpr size_t kMaxDecompressed = 65536;
constexpr int64_t kMillisecondsPerDay = 86400000;

// Day number of a millisecond timestamp, rounding toward minus infinity.
constexpr int64_t dayNumber(int64_t dateMs)
{
    const int64_t q = dateMs / kMillisecondsPerDay;
    return (dateMs % kMillisecondsPerDay < 0) ? q - 1 : q;
}

class Vm {
public:
    // Compressed container: header, then a magicless zstd frame.
    Status load(const uint8_t* data, size_t length);
    // Uncompressed form: header, then the body as it runs.
    Status loadUncompressed(const uint8_t* data, size_t length);
    // Runs the loaded program. Allocates nothing and does not change the VM.
    RunResult run(int64_t dateMs, uint32_t timeMs, uint8_t weekday) const;

    // Header, body and padding as loaded; empty before the first successful load.
    const std::vector<uint8_t>& code() const { return m_code; }

private:
    std::vector<uint8_t> m_code;
};

// Loads the uncompressed form into a temporary VM and runs it. A run fault is reported
// as an invalid-code error; load errors and an invalid weekday keep their own kind.
Result<bool> evaluate(const uint8_t* data, size_t length, int64_t dateMs, uint32_t timeMs, uint8_t weekday);

} // namespace nimblesieve
