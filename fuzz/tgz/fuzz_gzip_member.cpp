// Fuzzes the gzip member loop: header parsing, Inflate and the trailer
// checks over concatenated members. Output is bounded by a sink limit so a
// small input cannot run up memory; the loop must end in a defined status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/gzip/gzip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        tessera::MemorySource source(data, size);
        tessera::gzip::GzipInput input(source, 7);  // a tiny buffer exercises the refills
        tessera::gzip::GzipHeader header;
        tessera::gzip::ReadGzipHeader(input, header);
        if (input.Position() > size || header.name.size() > tessera::gzip::kMaxTextLength) abort();
    }
    tessera::MemorySource source(data, size);
    tessera::VectorSink sink(1u << 24);
    tessera::gzip::GzipDecodeResult r = tessera::gzip::DecodeGzipFile(source, sink);
    if (r.bytesOut != sink.bytes.size() && r.status != tessera::gzip::GzipStatus::Aborted) abort();
    return 0;
}
