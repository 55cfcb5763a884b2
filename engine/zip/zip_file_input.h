// The open archive file as the ZIP record layer reads it: reads at explicit
// offsets through the engine's file layer, unbuffered (the run's BlockReader
// is its buffer); a failed read leaves its error for the report.
#pragma once

#include <windows.h>

#include "core/file_io.h"
#include "zip/zip_input.h"

class ZipFileInput final : public tessera::RandomAccessInput {
public:
    explicit ZipFileInput(HANDLE file) : file_(file) {
        LARGE_INTEGER size;
        size_ = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return false;
        DWORD done = 0;
        if (!EngineReadFile(file_, buffer, static_cast<DWORD>(size), &done)) return false;
        *got = done;
        return true;
    }
    uint64_t Size() const override { return size_; }

private:
    HANDLE file_;
    uint64_t size_ = 0;
};
