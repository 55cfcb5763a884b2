// TAR header walk: block framing, header fields and the GNU and pax
// extensions that carry long names and big sizes.
#include "formats/tar/tar_reader.h"

#include <cstring>

namespace tessera::tar {

namespace {

// Header field offsets and lengths (ustar layout; v7 and GNU share the
// fields used here up to the magic).
constexpr size_t kNameOffset = 0, kNameLength = 100;
constexpr size_t kModeOffset = 100, kModeLength = 8;
constexpr size_t kSizeOffset = 124, kSizeLength = 12;
constexpr size_t kMtimeOffset = 136, kMtimeLength = 12;
constexpr size_t kChecksumOffset = 148, kChecksumLength = 8;
constexpr size_t kTypeOffset = 156;
constexpr size_t kLinkOffset = 157, kLinkLength = 100;
constexpr size_t kMagicOffset = 257;
constexpr size_t kPrefixOffset = 345, kPrefixLength = 155;

constexpr int64_t kMaxValue = INT64_MAX;

std::string FieldText(const uint8_t* block, size_t offset, size_t length) {
    const char* p = reinterpret_cast<const char*>(block + offset);
    size_t n = 0;
    while (n < length && p[n] != '\0') ++n;
    return std::string(p, n);
}

bool IsAllZero(const uint8_t* block) {
    for (size_t i = 0; i < kBlockSize; ++i)
        if (block[i]) return false;
    return true;
}

// The POSIX ustar magic "ustar\0"; the prefix field exists only there (the
// old GNU magic "ustar  \0" keeps times and sparse data in that place).
bool HasUstarPrefix(const uint8_t* block) {
    return std::memcmp(block + kMagicOffset, "ustar", 6) == 0;
}

// Decimal number of a pax record; an optional fraction (times) is dropped.
bool ParseDecimal(const std::string& text, bool allowSign, bool allowFraction, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (allowSign && i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (v > (static_cast<uint64_t>(kMaxValue) - digit) / 10) return false;
        v = v * 10 + digit;
    }
    if (i < text.size()) {
        if (!allowFraction || text[i] != '.') return false;
        for (++i; i < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9') return false;
    }
    value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

EntryKind KindOf(char typeflag, const std::string& name) {
    switch (typeflag) {
    case '1': return EntryKind::HardLink;
    case '2': return EntryKind::SymbolicLink;
    case '3': return EntryKind::CharDevice;
    case '4': return EntryKind::BlockDevice;
    case '5': return EntryKind::Folder;
    case '6': return EntryKind::Fifo;
    case 'D': return EntryKind::Folder;  // GNU dump folder: a folder with a name list as data
    case 'S': case 'M': return EntryKind::Unsupported;
    default:
        // '0', '\0', '7' and unknown vendor types read as regular files; old
        // writers mark folders only by the trailing slash.
        if (!name.empty() && name.back() == '/') return EntryKind::Folder;
        return EntryKind::File;
    }
}

}  // namespace

bool ParseNumericField(const uint8_t* field, size_t length, int64_t& value) {
    if (length == 0) {
        value = 0;
        return true;
    }
    if (field[0] & 0x80) {
        // Base-256: big-endian two's complement over the whole field, the
        // marker bit excluded (0x80 positive, 0xFF negative).
        bool negative = (field[0] & 0x40) != 0;
        uint64_t v = negative ? UINT64_MAX : 0;
        for (size_t i = 0; i < length; ++i) {
            uint8_t byte = i == 0 ? static_cast<uint8_t>(negative ? field[0] : field[0] & 0x7F) : field[i];
            // The bytes shifted out must be pure sign extension.
            uint8_t top = static_cast<uint8_t>(v >> 56);
            if (top != (negative ? 0xFF : 0x00)) return false;
            v = (v << 8) | byte;
        }
        int64_t s = static_cast<int64_t>(v);
        if (negative ? s >= 0 : s < 0) return false;
        value = s;
        return true;
    }
    size_t i = 0;
    while (i < length && (field[i] == ' ' || field[i] == '\0' || field[i] == '\t')) ++i;
    uint64_t v = 0;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) v = (v << 3) | static_cast<uint64_t>(field[i] - '0');
    // At most 12 octal digits in the widest field: 36 bits, cannot overflow.
    value = static_cast<int64_t>(v);
    return true;
}

bool HeaderChecksumHolds(const uint8_t* block) {
    const uint8_t* field = block + kChecksumOffset;
    size_t i = 0;
    while (i < kChecksumLength && (field[i] == ' ' || field[i] == '\0')) ++i;
    if (i == kChecksumLength || field[i] < '0' || field[i] > '7') return false;  // no number at all
    int64_t stored = 0;
    ParseNumericField(field, kChecksumLength, stored);
    int64_t unsignedSum = 0, signedSum = 0;
    for (size_t k = 0; k < kBlockSize; ++k) {
        bool inField = k >= kChecksumOffset && k < kChecksumOffset + kChecksumLength;
        uint8_t b = inField ? ' ' : block[k];
        unsignedSum += b;
        signedSum += static_cast<int8_t>(b);
    }
    return stored == unsignedSum || stored == signedSum;
}

TarReader::TarReader(ByteSource& source) : input_(source), scratch_(32768) {}

TarReader::TarReader(RandomAccessInput& input)
    : seekable_(new InputCursor(input)), input_(*seekable_), scratch_(32768) {}

size_t TarReader::Fill(uint8_t* out, size_t count) {
    size_t n = input_.ReadBytes(out, count);
    position_ += n;
    return n;
}

bool TarReader::Skip(uint64_t count) {
    if (seekable_ && count > input_.Buffered()) {
        // Use up what is buffered, then move the source itself.
        count -= Fill(scratch_.data(), input_.Buffered());
        if (!seekable_->SkipForward(count)) return false;
        position_ += count;
        return true;
    }
    while (count) {
        size_t step = count < scratch_.size() ? static_cast<size_t>(count) : scratch_.size();
        size_t n = Fill(scratch_.data(), step);
        count -= n;
        if (n < step) return false;
    }
    return true;
}

size_t TarReader::ReadData(uint8_t* buffer, size_t capacity) {
    if (dataLeft_ == 0 || capacity == 0) return 0;
    size_t want = dataLeft_ < capacity ? static_cast<size_t>(dataLeft_) : capacity;
    size_t n = Fill(buffer, want);
    dataLeft_ -= n;
    if (n < want) {
        truncated_ = true;
        dataLeft_ = 0;
        padding_ = 0;
    }
    return n;
}

// Reads the data of an extension header (long name, pax records) into
// `text`, growing only as bytes arrive; the padding is skipped.
TarStatus TarReader::ReadExtension(uint64_t size, std::string& text) {
    if (size > kMaxExtensionSize) return TarStatus::BadHeader;
    text.clear();
    size_t left = static_cast<size_t>(size);
    while (left) {
        size_t step = left < scratch_.size() ? left : scratch_.size();
        size_t n = Fill(scratch_.data(), step);
        text.append(reinterpret_cast<const char*>(scratch_.data()), n);
        if (n < step) return TarStatus::Truncated;
        left -= n;
    }
    if (!Skip((kBlockSize - size % kBlockSize) % kBlockSize)) return TarStatus::Truncated;
    return TarStatus::Entry;
}

// pax records: "<length> <key>=<value>\n", the length counting the whole
// record. Known keys update `values`; a malformed record ends the set.
bool TarReader::ParsePax(const std::string& text, PaxValues& values) {
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '\0') break;  // some writers pad with NULs
        size_t space = text.find(' ', pos);
        if (space == std::string::npos || space == pos || space - pos > 20) return false;
        int64_t length = 0;
        if (!ParseDecimal(text.substr(pos, space - pos), false, false, length)) return false;
        if (length < static_cast<int64_t>(space - pos + 3) || static_cast<uint64_t>(length) > text.size() - pos)
            return false;
        size_t end = pos + static_cast<size_t>(length);  // one past the newline
        if (text[end - 1] != '\n') return false;
        std::string record = text.substr(space + 1, end - 1 - (space + 1));
        pos = end;
        size_t eq = record.find('=');
        if (eq == std::string::npos) return false;
        std::string key = record.substr(0, eq), value = record.substr(eq + 1);
        int64_t number = 0;
        if (key == "path") {
            values.hasPath = true;
            values.path = value;
        } else if (key == "linkpath") {
            values.hasLinkPath = true;
            values.linkPath = value;
        } else if (key == "size") {
            if (!ParseDecimal(value, false, false, number)) return false;
            values.hasSize = true;
            values.size = static_cast<uint64_t>(number);
        } else if (key == "mtime") {
            if (ParseDecimal(value, true, true, number)) {
                values.hasMtime = true;
                values.mtime = number;
            }
        } else if (key == "mode") {
            int64_t mode = 0;
            bool ok = !value.empty() && value.size() <= 8;
            for (char c : value) ok = ok && c >= '0' && c <= '7';
            if (ok) {
                for (char c : value) mode = mode * 8 + (c - '0');
                values.hasMode = true;
                values.mode = static_cast<uint32_t>(mode);
            }
        }
    }
    return true;
}

TarStatus TarReader::Next(TarEntry& entry) {
    if (finished_) return TarStatus::End;
    finished_ = true;  // every early return below ends the walk
    if (truncated_ || !Skip(dataLeft_ + padding_)) return TarStatus::Truncated;
    dataLeft_ = padding_ = 0;

    std::string longName, longLink;
    bool hasLongName = false, hasLongLink = false;
    PaxValues local;
    uint64_t headerOffset = position_;
    uint8_t block[kBlockSize];
    for (;;) {
        size_t n = Fill(block, kBlockSize);
        bool pending = hasLongName || hasLongLink || local.hasPath || position_ - n != headerOffset;
        // No end blocks at all is accepted; an extension header without its
        // member is not.
        if (n == 0) return pending ? TarStatus::Truncated : TarStatus::End;
        if (n < kBlockSize) return TarStatus::Truncated;

        if (IsAllZero(block)) return TarStatus::End;
        if (block[0] == '\0' && !(pending && HeaderChecksumHolds(block))) return TarStatus::End;
        if (!HeaderChecksumHolds(block)) {
            // Damage: whatever extension headers came before it are lost
            // with it; the walk goes on at the next block that is a header
            // (named, with a checksum that holds -- random data practically
            // never is), so the members after the damage are not lost.
            ++damagedHeaders_;
            do {
                n = Fill(block, kBlockSize);
                if (n == 0) return TarStatus::End;
                if (n < kBlockSize) return TarStatus::Truncated;
            } while (block[0] == '\0' || !HeaderChecksumHolds(block));
            hasLongName = hasLongLink = false;
            longName.clear();
            longLink.clear();
            local = PaxValues();
            headerOffset = position_ - kBlockSize;
        }

        int64_t size = 0, mtime = 0, mode = 0;
        if (!ParseNumericField(block + kSizeOffset, kSizeLength, size) || size < 0) return TarStatus::BadHeader;
        if (!ParseNumericField(block + kMtimeOffset, kMtimeLength, mtime)) mtime = 0;
        if (!ParseNumericField(block + kModeOffset, kModeLength, mode)) mode = 0;
        char type = static_cast<char>(block[kTypeOffset]);

        if (type == 'L' || type == 'K') {
            std::string text;
            TarStatus s = ReadExtension(static_cast<uint64_t>(size), text);
            if (s != TarStatus::Entry) return s;
            text = text.substr(0, text.find('\0'));
            (type == 'L' ? longName : longLink) = text;
            (type == 'L' ? hasLongName : hasLongLink) = true;
            continue;
        }
        if (type == 'x' || type == 'g' || type == 'X') {
            std::string text;
            TarStatus s = ReadExtension(static_cast<uint64_t>(size), text);
            if (s != TarStatus::Entry) return s;
            // A malformed record set keeps what was read before it.
            ParsePax(text, type == 'g' ? global_ : local);
            if (type == 'g') headerOffset = position_;  // applies to the archive, not to one member
            continue;
        }
        if (type == 'V' || type == 'N') {
            // Volume label and old GNU rename lists: not members.
            if (!Skip(static_cast<uint64_t>(size)) || !Skip((kBlockSize - size % kBlockSize) % kBlockSize))
                return TarStatus::Truncated;
            headerOffset = position_;
            continue;
        }

        // A member header.
        std::string name = FieldText(block, kNameOffset, kNameLength);
        if (HasUstarPrefix(block)) {
            std::string prefix = FieldText(block, kPrefixOffset, kPrefixLength);
            if (!prefix.empty()) name = prefix + "/" + name;
        }
        if (hasLongName) name = longName;
        std::string link = FieldText(block, kLinkOffset, kLinkLength);
        if (hasLongLink) link = longLink;

        uint64_t dataSize = static_cast<uint64_t>(size);
        for (const PaxValues* pax : {&global_, &local}) {
            if (pax->hasPath) name = pax->path;
            if (pax->hasLinkPath) link = pax->linkPath;
            if (pax->hasSize) dataSize = pax->size;
            if (pax->hasMtime) mtime = pax->mtime;
            if (pax->hasMode) mode = pax->mode;
        }
        // Keeps the padding arithmetic and the position free of overflow.
        if (dataSize > static_cast<uint64_t>(kMaxValue) - kBlockSize) return TarStatus::BadHeader;

        entry.name = std::move(name);
        entry.linkName = std::move(link);
        entry.typeflag = type;
        entry.kind = KindOf(type, entry.name);
        entry.size = dataSize;
        entry.mtime = mtime;
        entry.mode = static_cast<uint32_t>(mode) & 07777;
        entry.headerOffset = headerOffset;
        entry.dataOffset = position_;
        dataLeft_ = dataSize;
        padding_ = (kBlockSize - dataSize % kBlockSize) % kBlockSize;
        finished_ = false;
        return TarStatus::Entry;
    }
}

}  // namespace tessera::tar
