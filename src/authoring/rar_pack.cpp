// The 2.0 compressor. It mirrors the unpacker's state (the ring of the last four distances, the
// last length and distance, the multimedia predictor and channel) so that every symbol it chooses
// decodes to the bytes it stands for.
//
// Stream layout it writes: a member that starts afresh opens with its tables; every later block,
// and a member that continues a solid stream, opens with the table-change symbol coded with the
// tables in force, then the new tables. Tables never reuse the previous lengths. After the last
// symbol comes one harmless literal code, so that a decoder looking one symbol past the end (into
// cipher padding) never mistakes it for a table change.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <queue>
#include <utility>

#include "authoring/rar_writer.h"
#include "data/rar_format.h"

namespace rar {

namespace {

constexpr int kTableChange = 269;
constexpr int kAudioTableChange = 256;
constexpr size_t kLzBlock = 128 * 1024;     // input bytes per LZ table block
constexpr size_t kAudioBlock = 256 * 1024;  // input bytes per multimedia table block
constexpr uint32_t kMaxDistance = kWindowSize - 512;
constexpr uint32_t kMaxMatch = 258;
constexpr int kHashBits = 17;
constexpr int kChainDepth = 32;
constexpr size_t kLongKey = 32;  // bytes hashed for the far-repeat table
constexpr int kLongBits = 18;
constexpr uint32_t kLazyBelow = 32;
constexpr uint32_t kNiceLength =
    96;  // a match this long ends the search  // look one byte ahead for a better match below this length
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kSkipAfter = 256;  // literals in a row before the search starts skipping

class BitWriter {
public:
    void put(uint32_t value, int bits) {
        if (bits == 0) return;
        acc_ = (acc_ << bits) | (value & ((1u << bits) - 1));
        n_ += bits;
        while (n_ >= 8) {
            n_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(acc_ >> n_));
        }
    }
    std::vector<uint8_t> finish() {
        if (n_) bytes_.push_back(static_cast<uint8_t>(acc_ << (8 - n_)));
        n_ = 0;
        return std::move(bytes_);
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    int n_ = 0;
};

// Huffman code lengths of at most 15 bits; a single used symbol gets length 1.
void buildLengths(const uint32_t* freq, int n, uint8_t* len) {
    std::vector<uint32_t> f(freq, freq + n);
    for (;;) {
        std::memset(len, 0, n);
        std::vector<int> used;
        for (int i = 0; i < n; ++i)
            if (f[i]) used.push_back(i);
        if (used.empty()) return;
        if (used.size() == 1) {
            len[used[0]] = 1;
            return;
        }
        // Nodes 0..n-1 are leaves; internal nodes follow. parent[] links each node upwards.
        std::vector<int> parent(2 * n, -1);
        using Node = std::pair<uint64_t, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
        for (int s : used) heap.push({f[s], s});
        int next = n;
        while (heap.size() > 1) {
            Node a = heap.top();
            heap.pop();
            Node b = heap.top();
            heap.pop();
            parent[a.second] = next;
            parent[b.second] = next;
            heap.push({a.first + b.first, next++});
        }
        int maxLen = 0;
        for (int s : used) {
            int d = 0;
            for (int p = s; parent[p] >= 0; p = parent[p]) ++d;
            len[s] = static_cast<uint8_t>(d);
            maxLen = std::max(maxLen, d);
        }
        if (maxLen <= kMaxCodeLength) return;
        for (uint32_t& x : f)
            if (x) x = (x >> 1) | 1;
    }
}

// Canonical code of a table: symbols of one length take consecutive codes in symbol order.
struct Code {
    int n = 0;
    uint8_t len[kMainSymbols] = {};
    uint16_t code[kMainSymbols] = {};

    void build(const uint32_t* freq, int count) {
        n = count;
        buildLengths(freq, count, len);
        uint32_t num[16] = {}, next[16] = {};
        for (int i = 0; i < count; ++i) num[len[i]]++;
        num[0] = 0;
        for (int i = 1; i <= kMaxCodeLength; ++i) next[i] = (next[i - 1] + num[i - 1]) << 1;
        for (int i = 0; i < count; ++i)
            if (len[i]) code[i] = static_cast<uint16_t>(next[len[i]]++);
    }
    void put(BitWriter& bw, int sym) const { bw.put(code[sym], len[sym]); }
    // The used symbol with the shortest code other than the one excluded.
    int cheapest(int excluded) const {
        int best = -1;
        for (int i = 0; i < n; ++i)
            if (len[i] && i != excluded && (best < 0 || len[i] < len[best])) best = i;
        return best;
    }
};

// Writes the code lengths of a block: header bits, the 19-symbol length code, then the lengths
// run-length coded with it.
void writeTables(BitWriter& bw, const uint8_t* lens, int count, bool audio, int channels) {
    bw.put(audio ? 1 : 0, 1);
    bw.put(0, 1);  // lengths are absolute, not added to the previous ones
    if (audio) bw.put(static_cast<uint32_t>(channels - 1), 2);

    struct Item {
        uint8_t sym, bits;
        uint8_t value;
    };
    std::vector<Item> items;
    for (int i = 0; i < count;) {
        uint8_t l = lens[i];
        int run = 1;
        while (i + run < count && lens[i + run] == l) ++run;
        if (l == 0 && run >= 11) {
            int k = std::min(run, 138);
            items.push_back({18, 7, static_cast<uint8_t>(k - 11)});
            i += k;
        } else if (l == 0 && run >= 3) {
            int k = std::min(run, 10);
            items.push_back({17, 3, static_cast<uint8_t>(k - 3)});
            i += k;
        } else if (l != 0 && run >= 4) {
            // The first one literally, then repeats of the previous length.
            items.push_back({l, 0, 0});
            int k = std::min(run - 1, 6);
            items.push_back({16, 2, static_cast<uint8_t>(k - 3)});
            i += 1 + k;
        } else {
            items.push_back({l, 0, 0});
            ++i;
        }
    }
    uint32_t freq[kLevelSymbols] = {};
    for (const Item& it : items) freq[it.sym]++;
    Code level;
    level.build(freq, kLevelSymbols);
    for (int i = 0; i < kLevelSymbols; ++i) bw.put(level.len[i], 4);
    for (const Item& it : items) {
        level.put(bw, it.sym);
        bw.put(it.value, it.bits);
    }
}

int slotOf(const uint32_t* base, int n, uint32_t v) {
    int i = static_cast<int>(std::upper_bound(base, base + n, v) - base) - 1;
    return i;
}

inline uint32_t lengthBonus(uint32_t distance) {
    return (distance >= 0x2000) + (distance >= 0x40000);
}
inline uint32_t repBonus(uint32_t distance) {
    return (distance >= 0x101) + (distance >= 0x2000) + (distance >= 0x40000);
}

// The unpacker's state as the stream so far leaves it.
struct StreamState {
    uint32_t oldDist[4] = {};
    unsigned ptr = 0;
    uint32_t lastDist = 0;
    uint32_t lastLength = 0;
    bool haveTables = false;
    bool audio = false;
    int channels = 1;
    int curChannel = 0;
    AudioPredictor pred{};
    Code main, dist, rep;
    Code audioCode[4];

    void resetForMember() {
        std::memset(oldDist, 0, sizeof oldDist);
        ptr = 0;
        lastDist = 0;
        lastLength = 0;
        curChannel = 0;
        pred.reset();
        haveTables = false;
    }
    void recordCopy(uint32_t length, uint32_t distance) {
        oldDist[ptr++ & 3] = distance;
        lastDist = distance;
        lastLength = length;
    }
    // Codes the table-change symbol with the tables in force.
    void putTableChange(BitWriter& bw) const {
        if (audio)
            audioCode[curChannel].put(bw, kAudioTableChange);
        else
            main.put(bw, kTableChange);
    }
    void putTrailer(BitWriter& bw) const {
        if (audio)
            audioCode[curChannel].put(bw, audioCode[curChannel].cheapest(kAudioTableChange));
        else
            main.put(bw, main.cheapest(kTableChange));
    }
};

struct Token {
    uint16_t sym;
    int16_t sub;  // symbol of the distance or repeat-length table, or -1
    uint8_t bits1, bits2;
    uint32_t val1, val2;
};

class MatchFinder {
public:
    MatchFinder()
        : head_(1u << kHashBits, kNone),
          prev_(kWindowSize, kNone),
          head2_(1u << 16, kNone),
          long_(1u << kLongBits, kNone) {}

    // Makes positions below pos searchable (those with the bytes they hash inside [0, end)).
    void insertUpTo(const uint8_t* buf, size_t pos, size_t end) {
        for (; next_ < pos; ++next_) {
            if (next_ + 1 >= end) break;
            head2_[buf[next_] << 8 | buf[next_ + 1]] = static_cast<uint32_t>(next_);
            if (next_ + 2 >= end) break;
            uint32_t h = hash3(buf + next_);
            prev_[next_ & kWindowMask] = head_[h];
            head_[h] = static_cast<uint32_t>(next_);
            if (next_ + kLongKey <= end) long_[hashLong(buf + next_)] = static_cast<uint32_t>(next_);
        }
    }

    // Longest match at pos with a source at or after lowest, no longer than maxLen, that the
    // length coding can express; returns its length (0 for none) and distance.
    uint32_t find(const uint8_t* buf, size_t pos, size_t end, size_t lowest, uint32_t maxLen,
                  uint32_t& distance) const {
        uint32_t best = 0;
        if (maxLen < 3) return 0;
        uint32_t cand = head_[hash3(buf + pos)];
        for (int chain = kChainDepth; chain > 0 && cand != kNone && cand >= lowest && cand < pos; --chain) {
            const uint8_t* a = buf + cand;
            const uint8_t* b = buf + pos;
            if (a[best] == b[best] && a[0] == b[0]) {
                uint32_t len = matchLength(a, b, maxLen);
                uint32_t d = static_cast<uint32_t>(pos - cand);
                if (len > best && len >= 3 + lengthBonus(d) && !(len == 3 && d > 0x1000)) {
                    best = len;
                    distance = d;
                    if (len >= std::min(maxLen, kNiceLength)) break;
                }
            }
            uint32_t p = prev_[cand & kWindowMask];
            if (p >= cand) break;
            cand = p;
        }
        // A far repeat of a long string hides behind many nearer short ones: the last position
        // of the same long string is tried as well.
        if (best < maxLen && pos + kLongKey <= end) {
            uint32_t c = long_[hashLong(buf + pos)];
            if (c != kNone && c >= lowest && c < pos) {
                uint32_t len = matchLength(buf + c, buf + pos, maxLen);
                if (len > best && len >= kLongKey) {
                    best = len;
                    distance = static_cast<uint32_t>(pos - c);
                }
            }
        }
        return best;
    }

    // The nearest earlier position holding the two bytes at pos, or kNone.
    uint32_t pair(const uint8_t* buf, size_t pos) const { return head2_[buf[pos] << 8 | buf[pos + 1]]; }

    static uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t maxLen) {
        uint32_t n = 0;
        while (n + 8 <= maxLen) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < maxLen && a[n] == b[n]) ++n;
        return n;
    }

private:
    static uint32_t hash3(const uint8_t* p) {
        uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    static uint32_t hashLong(const uint8_t* p) {
        uint64_t h = 0;
        for (size_t i = 0; i < kLongKey; i += 8) {
            uint64_t v;
            std::memcpy(&v, p + i, 8);
            h = (h ^ v) * 0x9E3779B97F4A7C15ull;
        }
        return static_cast<uint32_t>(h >> (64 - kLongBits));
    }
    std::vector<uint32_t> head_, prev_, head2_, long_;
    size_t next_ = 0;
};

}  // namespace

struct Packer::Impl {
    bool tryAudio;
    StreamState state;
    MatchFinder finder;
    size_t missRun = 0;  // positions since the last match

    explicit Impl(bool audio) : tryAudio(audio) {}

    std::vector<uint8_t> packLz(const uint8_t* buf, size_t begin, size_t end, size_t lowest, StreamState& st);
    std::vector<uint8_t> packAudio(const uint8_t* buf, size_t begin, size_t end, StreamState& st);
    void parseBlock(const uint8_t* buf, size_t& pos, size_t blockEnd, size_t end, size_t lowest,
                    StreamState& st, std::vector<Token>& tokens);
};

namespace {

void lengthExtra(uint32_t v, uint16_t& slot, uint8_t& bits, uint32_t& extra) {
    int i = slotOf(kLengthBase, kRepSymbols, v);
    slot = static_cast<uint16_t>(i);
    bits = kLengthBits[i];
    extra = v - kLengthBase[i];
}

}  // namespace

// Chooses the symbols for input from pos to at least blockEnd, updating the stream state.
void Packer::Impl::parseBlock(const uint8_t* buf, size_t& pos, size_t blockEnd, size_t end, size_t lowest,
                              StreamState& st, std::vector<Token>& tokens) {
    struct {
        size_t pos;
        uint32_t len, dist;
    } lookahead = {SIZE_MAX, 0, 0};
    while (pos < blockEnd) {
        finder.insertUpTo(buf, pos, end);
        // Data that has not matched for a long stretch is searched more and more sparsely.
        if (missRun >= kSkipAfter && (missRun & ((1u << std::min<size_t>(4, missRun / kSkipAfter)) - 1))) {
            ++missRun;
            tokens.push_back(Token{buf[pos], -1, 0, 0, 0, 0});
            ++pos;
            continue;
        }
        size_t low = pos > lowest + kMaxDistance ? pos - kMaxDistance : lowest;
        uint32_t maxLen = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, end - pos));

        uint32_t dist = 0, len;
        if (pos == lookahead.pos) {  // searched already, one step ago
            len = lookahead.len;
            dist = lookahead.dist;
        } else {
            len = finder.find(buf, pos, end, low, maxLen, dist);
        }

        // Repeats of the last four distances.
        uint32_t repLen = 0;
        int repIdx = -1;
        for (int k = 0; k < 4; ++k) {
            uint32_t d = st.oldDist[(st.ptr - 1 - k) & 3];
            if (d == 0 || d > pos - low) continue;
            uint32_t l = MatchFinder::matchLength(buf + pos - d, buf + pos, std::min<uint32_t>(maxLen, 257));
            if (l >= 2 + repBonus(d) && l > repLen) {
                repLen = l;
                repIdx = k;
            }
        }
        bool useRep = repIdx >= 0 && (repLen >= len || (repLen + 1 >= len && dist > 0x400) ||
                                      (repLen + 2 >= len && dist > 0x10000));

        bool literal = false;
        if (!useRep && len >= 3 && len < kLazyBelow && pos + 1 < end) {
            finder.insertUpTo(buf, pos + 1, end);
            uint32_t d1 = 0;
            uint32_t l1 =
                finder.find(buf, pos + 1, end, low, std::min<uint32_t>(kMaxMatch, end - pos - 1), d1);
            literal = l1 > len + 1 || (l1 == len + 1 && d1 <= dist);  // the longer match comes next
            lookahead = {pos + 1, l1, d1};
        }

        Token t{0, -1, 0, 0, 0, 0};
        if (useRep) {
            uint32_t d = st.oldDist[(st.ptr - 1 - repIdx) & 3];
            if (repIdx == 0 && repLen >= st.lastLength && st.lastLength >= 2 && d == st.lastDist) {
                t.sym = 256;
                len = st.lastLength;
            } else {
                len = repLen;
                t.sym = static_cast<uint16_t>(257 + repIdx);
                uint16_t slot;
                lengthExtra(len - 2 - repBonus(d), slot, t.bits1, t.val1);
                t.sub = static_cast<int16_t>(slot);
            }
            st.recordCopy(len, d);
        } else if (len >= 3 && !literal) {
            uint16_t slot;
            lengthExtra(len - 3 - lengthBonus(dist), slot, t.bits1, t.val1);
            t.sym = static_cast<uint16_t>(270 + slot);
            int d = slotOf(kDistBase, kDistSymbols, dist - 1);
            t.sub = static_cast<int16_t>(d);
            t.bits2 = kDistBits[d];
            t.val2 = dist - 1 - kDistBase[d];
            st.recordCopy(len, dist);
        } else {
            uint32_t cand = !literal && pos + 1 < end ? finder.pair(buf, pos) : kNone;
            if (cand != kNone && cand >= low && cand < pos && pos - cand <= 256) {
                len = 2;
                uint32_t d = static_cast<uint32_t>(pos - cand);
                int i = slotOf(kShortDistBase, 8, d - 1);
                t.sym = static_cast<uint16_t>(261 + i);
                t.bits1 = kShortDistBits[i];
                t.val1 = d - 1 - kShortDistBase[i];
                st.recordCopy(2, d);
            } else {
                len = 1;
                t.sym = buf[pos];
            }
        }
        missRun = len >= 3 ? 0 : missRun + len;
        tokens.push_back(t);
        pos += len;
    }
}

std::vector<uint8_t> Packer::Impl::packLz(const uint8_t* buf, size_t begin, size_t end, size_t lowest,
                                          StreamState& st) {
    BitWriter bw;
    std::vector<Token> tokens;
    size_t pos = begin;
    do {
        size_t blockEnd = std::min(end, pos + kLzBlock);
        tokens.clear();
        parseBlock(buf, pos, blockEnd, end, lowest, st, tokens);

        uint32_t fm[kMainSymbols] = {}, fd[kDistSymbols] = {}, fr[kRepSymbols] = {};
        for (const Token& t : tokens) {
            fm[t.sym]++;
            if (t.sub >= 0) (t.sym >= 270 ? fd : fr)[t.sub]++;
        }
        fm[kTableChange]++;  // the next block, or the next member of a solid archive
        fm[0]++;             // the trailer's literal
        if (st.haveTables) st.putTableChange(bw);
        st.main.build(fm, kMainSymbols);
        st.dist.build(fd, kDistSymbols);
        st.rep.build(fr, kRepSymbols);
        uint8_t lens[kPlainTableLengths];
        std::memcpy(lens, st.main.len, kMainSymbols);
        std::memcpy(lens + kMainSymbols, st.dist.len, kDistSymbols);
        std::memcpy(lens + kMainSymbols + kDistSymbols, st.rep.len, kRepSymbols);
        writeTables(bw, lens, kPlainTableLengths, false, 0);
        st.audio = false;
        st.haveTables = true;

        for (const Token& t : tokens) {
            st.main.put(bw, t.sym);
            if (t.sym >= 270) {
                bw.put(t.val1, t.bits1);
                st.dist.put(bw, t.sub);
                bw.put(t.val2, t.bits2);
            } else if (t.sym >= 257 && t.sym <= 260) {
                st.rep.put(bw, t.sub);
                bw.put(t.val1, t.bits1);
            } else if (t.sym >= 261) {
                bw.put(t.val1, t.bits1);
            }
        }
    } while (pos < end);
    st.putTrailer(bw);
    return bw.finish();
}

namespace {

// Rough cost in bits of coding n bytes with the given number of channels, from the entropy of the
// predictor's symbols per channel.
double audioCost(const uint8_t* p, size_t n, int channels, const AudioPredictor& start) {
    AudioPredictor pred = start;
    std::vector<uint32_t> freq(channels * 256, 0);
    for (size_t i = 0; i < n; ++i) {
        int c = static_cast<int>(i % channels);
        unsigned s = (pred.predict(c) - p[i]) & 0xFF;
        pred.update(c, s, p[i]);
        freq[c * 256 + s]++;
    }
    double bits = 0;
    for (int c = 0; c < channels; ++c) {
        double total = 0;
        for (int s = 0; s < 256; ++s) total += freq[c * 256 + s];
        for (int s = 0; s < 256; ++s)
            if (uint32_t f = freq[c * 256 + s]) bits -= f * std::log2(f / total);
    }
    return bits + channels * 300.0 * 8;  // tables
}

}  // namespace

std::vector<uint8_t> Packer::Impl::packAudio(const uint8_t* buf, size_t begin, size_t end, StreamState& st) {
    BitWriter bw;
    size_t sample = std::min(end - begin, kAudioBlock);
    int channels = 1;
    double best = 0;
    for (int c = 1; c <= 4; ++c) {
        double cost = audioCost(buf + begin, sample, c, st.pred);
        if (c == 1 || cost < best) {
            best = cost;
            channels = c;
        }
    }
    std::vector<uint8_t> syms;
    size_t pos = begin;
    do {
        size_t blockEnd = std::min(end, pos + kAudioBlock);
        if (st.haveTables) st.putTableChange(bw);
        if (st.curChannel >= channels) st.curChannel = 0;
        int c0 = st.curChannel;
        syms.resize(blockEnd - pos);
        std::vector<uint32_t> freq(channels * kAudioSymbols, 0);
        int c = c0;
        for (size_t i = pos; i < blockEnd; ++i) {
            unsigned s = (st.pred.predict(c) - buf[i]) & 0xFF;
            st.pred.update(c, s, buf[i]);
            syms[i - pos] = static_cast<uint8_t>(s);
            freq[c * kAudioSymbols + s]++;
            if (++c >= channels) c = 0;
        }
        std::vector<uint8_t> lens(channels * kAudioSymbols);
        for (int k = 0; k < channels; ++k) {
            freq[k * kAudioSymbols + kAudioTableChange]++;
            freq[k * kAudioSymbols]++;  // the trailer's symbol
            st.audioCode[k].build(&freq[k * kAudioSymbols], kAudioSymbols);
            std::memcpy(&lens[k * kAudioSymbols], st.audioCode[k].len, kAudioSymbols);
        }
        writeTables(bw, lens.data(), channels * kAudioSymbols, true, channels);
        st.audio = true;
        st.channels = channels;
        st.haveTables = true;
        c = c0;
        for (uint8_t s : syms) {
            st.audioCode[c].put(bw, s);
            if (++c >= channels) c = 0;
        }
        st.curChannel = c;
        pos = blockEnd;
    } while (pos < end);
    st.putTrailer(bw);
    return bw.finish();
}

Packer::Packer(bool tryAudio) : impl_(std::make_unique<Impl>(tryAudio)) {}
Packer::~Packer() = default;

std::vector<uint8_t> Packer::pack(const uint8_t* buf, size_t begin, size_t end, bool continues) {
    StreamState& st = impl_->state;
    if (!continues) st.resetForMember();
    size_t lowest = continues ? 0 : begin;
    if (!impl_->tryAudio) return impl_->packLz(buf, begin, end, lowest, st);

    // Both ways from the same state; the smaller one wins and its state carries on.
    StreamState audioState = st;
    std::vector<uint8_t> audio = impl_->packAudio(buf, begin, end, audioState);
    StreamState lzState = st;
    std::vector<uint8_t> lz = impl_->packLz(buf, begin, end, lowest, lzState);
    if (audio.size() < lz.size()) {
        impl_->finder.insertUpTo(buf, end, end);
        st = audioState;
        return audio;
    }
    st = lzState;
    return lz;
}

}  // namespace rar
