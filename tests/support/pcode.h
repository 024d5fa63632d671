// Builds pcode containers for tests: "NS", 0, 1, then the body (compressed or not).
#pragma once

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

inline Bytes header() { return {0x4E, 0x53, 0x00, 0x01}; }

// A zstd frame in the magicless format (the standard frame without its 4-byte magic).
inline Bytes compressFrame(const Bytes& body, bool magicless = true)
{
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_format, magicless ? ZSTD_f_zstd1_magicless : ZSTD_f_zstd1);
    Bytes out(ZSTD_compressBound(body.size()));
    const size_t n = ZSTD_compress2(cctx, out.data(), out.size(), body.data(), body.size());
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n))
        throw std::runtime_error(ZSTD_getErrorName(n));
    out.resize(n);
    return out;
}

inline Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The compressed container as a playlist carries it.
inline Bytes container(const Bytes& body) { return concat(header(), compressFrame(body)); }

// The uncompressed form: header followed by the body as it runs.
inline Bytes uncompressed(const Bytes& body) { return concat(header(), body); }

} // namespace testsupport
