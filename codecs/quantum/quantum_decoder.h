// Quantum decoder for cabinet folders.
//
// Quantum is an LZ77 method with adaptive arithmetic coding: seven symbol
// models choose between literals (four models of 64 bytes each) and matches
// of length 3, 4 or 5 and up. A folder is one stream cut into frames of
// 32,768 bytes, one per CFDATA block; the models and the window run on from
// frame to frame, the arithmetic coder restarts with each frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

namespace tessera::quantum {

constexpr int kMinWindowBits = 10;
constexpr int kMaxWindowBits = 21;
constexpr uint32_t kFrameSize = 32768;

class QuantumDecoder {
public:
    explicit QuantumDecoder(std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    // False when windowBits is outside 10..21 or memory is exhausted.
    bool Init(int windowBits);
    bool OutOfMemory() const { return outOfMemory_; }

    // Starts a new folder: fresh models and an empty window.
    void Reset();

    // Decodes one frame into exactly `outSize` (at most 32,768) bytes. False
    // for invalid data; the decoder stays failed until Reset().
    bool DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

private:
    struct Symbol {
        uint16_t symbol;
        uint16_t cumulative;  // frequency of this and all later entries
    };
    struct Model {
        int entries = 0;
        int shiftsLeft = 0;
        Symbol* symbols = nullptr;  // entries + 1, the last with frequency 0
    };
    struct Coder;
    void InitModel(Model& model, Symbol* storage, int start, int count);
    static void Rescale(Model& model);
    int Decode(Coder& coder, Model& model);

    bool outOfMemory_ = false;
    bool failed_ = true;
    int windowBits_ = 0;
    uint32_t windowSize_ = 0;
    std::pmr::vector<uint8_t> window_;
    uint32_t windowPos_ = 0;
    uint64_t totalOut_ = 0;

    Model literals_[4], match3_, match4_, matchLong_, lengthModel_, selector_;
    Symbol literalSyms_[4][65], match3Syms_[25], match4Syms_[37], matchLongSyms_[43], lengthSyms_[28], selectorSyms_[8];
};

}  // namespace tessera::quantum
