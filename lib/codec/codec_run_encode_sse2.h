// The encoder's run-block loop of the SSE2 path. No include guard: included
// once, inside namespace sse2, by codec_instances.h for the encoder.
//
// It takes the tokens of a 64-byte block from the same masks as the AVX-512
// loop (codec_run_encode_avx512.h says how), but writes them run by run: the literals before a run
// with two whole 16-byte vectors, then the run's token over the first bytes
// of the run they copied too. There is no byte compress in SSE2, and exact
// stores for stretches of every length would branch on each length. The
// block is written to a buffer on the stack instead, where the vectors may
// reach past the block's output, and copied out to the stream one block
// later with four 16-byte stores that end within the block's output (two at
// its start and two that end where it ends; for an output shorter than 32
// bytes, the first two move back too). A store moved back rewrites bytes
// before the block's output with what they hold already: each buffer keeps
// the 32 bytes of output before its block (the loop reads them from the
// stream where it starts, so it needs 32 bytes of output before it). The copy
// one block later reads the buffer once its stores have left the store
// queue, and no branch depends on how long the stretches are.
//
// The literals after a block's last run are written with the next block's
// first run (one stretch, wherever the block boundary falls); where the
// loop stops, the token loops write them.
#if defined(VELT_RLE_ENCODER)
// With the token loops (codec_kernels.h, included after this file).
inline std::size_t SkipByte(const Byte* s, std::size_t limit, std::size_t avail, Byte c);

// Bytes kept before each block's output in its buffer: the last bytes of
// the output before it.
inline constexpr std::size_t kStageHistory = 32;
// A block's buffer: the history, the block's output (at most the literals
// from the block before, less than a block, the block's own bytes and the
// bytes of a run that goes on) and what the whole vectors write past it.
inline constexpr std::size_t kStageSize = kStageHistory + 224;

// Eq64(a, a + 1), and whether any of a[0..63] is 0xAB, from the same loads.
inline Mask64 NeighboursAndEscapes(const Byte* a, Vec esc, bool& escapes) {
  const Vec a0 = Load(a), a1 = Load(a + 16), a2 = Load(a + 32), a3 = Load(a + 48);
  const auto m0 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, Load(a + 1))));
  const auto m1 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, Load(a + 17))));
  const auto m2 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a2, Load(a + 33))));
  const auto m3 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a3, Load(a + 49))));
  const Vec e = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a0, esc), _mm_cmpeq_epi8(a1, esc)),
                             _mm_or_si128(_mm_cmpeq_epi8(a2, esc), _mm_cmpeq_epi8(a3, esc)));
  escapes = _mm_movemask_epi8(e) != 0;
  return Mask64{m0 | (m1 << 16)} | (Mask64{m2 | (m3 << 16)} << 32);
}

// Copies the total (<= 64) bytes of output that follow the history in
// stage to d with four 16-byte stores, reading and writing nothing past
// them, and keeps the last 32 bytes there end at, the history of the next
// block's buffer, at next.
inline void FlushStage(Byte* d, const Byte* stage, std::size_t total, Byte* next) {
  const Byte* s = stage + kStageHistory;
  const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(total) - 32;
  const std::ptrdiff_t first = std::min<std::ptrdiff_t>(0, last);
  const Vec t0 = Load(s + last);
  const Vec t1 = Load(s + last + 16);
  Store(d + first, Load(s + first));
  Store(d + first + 16, Load(s + first + 16));
  Store(d + last, t0);
  Store(d + last + 16, t1);
  Store(next, t0);
  Store(next + 16, t1);
}

// The state of EncodeRunBlocks between blocks.
struct RunBlockState {
  const Byte* p;             // the block
  const Byte* end;           // the end of the input
  Byte* d;                   // where its output goes
  std::size_t total_before;  // the output of the block before, in its buffer
  Mask64 eq;                 // bit j: p[j] == p[j + 1]; 0 where the block holds 0xAB
                             // (a block without runs, before which the loop stops)
  std::size_t taken;         // leading bytes that the block before's last run took
  const Byte* cur;           // the input after the last token written: literals from the
                             // block before, or p + taken
  bool moved;                // a long run ended the block before: p is where it ends
};

// The block's last run goes on over most of the next block: its token, which
// ends the block's output at w, takes it up to 255 bytes, and the loop starts
// afresh after it.
[[gnu::noinline]] inline void FinishLongRun(RunBlockState& st, Byte* here, Byte* w, Mask64 eq_next) {
  constexpr std::size_t kBlock = 64;
  const Byte* const p = st.p;
  const Mask64 eq = st.eq;
  const Mask64 r4 = eq & ((eq >> 1) | (eq_next << 63)) & ((eq >> 2) | (eq_next << 62));
  const Mask64 starts = r4 & ~((eq << 1) | Mask64{st.taken != 0});
  const std::size_t s = kBlock - 1 - static_cast<std::size_t>(std::countl_zero(starts));
  const auto avail = static_cast<std::size_t>(st.end - (p + kBlock));
  const std::size_t length = kBlock - s + SkipByte(p + kBlock, std::min(kRleMaxRun - (kBlock - s), avail), avail, p[s]);
  w[-1] = static_cast<Byte>(length);
  const auto total = static_cast<std::size_t>(w - (here + kStageHistory));
  st.p = p + s + length;
  st.cur = st.p;
  st.d += total;
  st.total_before = total;
  st.taken = 0;
  st.moved = true;
}

// Writes the block at st.p to its buffer here, and copies the block before's
// output out of its buffer, before_here. False where the loop stops before
// the block (nothing written) or after it (st.moved: a long run ended it).
inline bool StageRunBlock(RunBlockState& st, Byte* here, Byte* before_here, Vec esc) {
  constexpr std::size_t kBlock = 64;
  const Byte* const p = st.p;
  const Mask64 eq = st.eq;
  bool escapes;
  const Mask64 eq_next = NeighboursAndEscapes(p + kBlock, esc, escapes);
  const Mask64 r4 = eq & ((eq >> 1) | (eq_next << 63)) & ((eq >> 2) | (eq_next << 62));
  if (r4 == 0) return false;
  // A run that goes on past the block takes the next block's first bytes, up
  // to the first that differs from the next. One that takes 63 or more (it
  // might take the whole block, or more) is measured on its own below.
  // (With branches: without, the loop measured slower.)
  const bool goes_on = (r4 >> 60) != 0 && (eq >> 63) != 0;
  const std::size_t next_taken = goes_on ? LowestBit(~eq_next | (Mask64{1} << 62)) + 1 : 0;
  const std::size_t taken = st.taken;
  // Runs that start after the bytes taken (which end before a byte that
  // differs, so only a start at 0 needs to be left out), and the last bytes
  // of the runs, and byte 63, which is the last of the last run only where
  // that run goes on (else no start is left to take it).
  Mask64 starts = r4 & ~(eq << 1);
  if (taken != 0) starts &= ~Mask64{1};
  // Where the block starts no run after literals from the block before,
  // those before the next run would reach back over more than a block: the
  // loop stops.
  if (starts == 0 && st.cur < p) return false;
  Mask64 lasts = ((r4 << 3) & ~eq) | (Mask64{1} << 63);
  if (taken != 0) lasts = (lasts >> taken) << taken;

  FlushStage(st.d - st.total_before, before_here, st.total_before, here);

  // The input from c goes to w.
  Byte* w = here + kStageHistory;
  const Byte* c = st.cur;
  // (The start is cleared last, and the run is known by its last byte, not
  // the one after: GCC then tests the loop on the flags of the clear and
  // adds nothing for the end. Three instructions a run fewer.)
  while (starts != 0) {
    const std::size_t s = LowestBit(starts);
    const std::size_t last = LowestBit(lasts);
    lasts &= lasts - 1;
    Store(w, Load(c));
    Store(w + 16, Load(c + 16));
    const auto literal = static_cast<std::size_t>(p + s - c);
    if (literal > 30) [[unlikely]] {
      for (std::size_t j = 32; j < literal + 2; j += 16) Store(w + j, Load(c + j));
    }
    w += literal;
    w[0] = kEsc;
    w[2] = static_cast<Byte>(last + 1 - s);
    w += 3;
    c = p + last + 1;
    starts &= starts - 1;
  }
  if (next_taken == 63) [[unlikely]] {
    FinishLongRun(st, here, w, eq_next);
    return false;
  }
  // A run that goes on ends the block's output and takes the next block's
  // first bytes. Literals after the last run are written with the next
  // block's first run.
  w[-1] = static_cast<Byte>(w[-1] + next_taken);
  const auto total = static_cast<std::size_t>(w - (here + kStageHistory));
  st.cur = c + next_taken;
  st.p = p + kBlock;
  st.d += total;
  st.total_before = total;
  st.taken = next_taken;
  st.eq = escapes ? 0 : eq_next;
  return true;
}

// Stops before a block without runs or one that holds 0xAB, where too
// little input (two blocks and three bytes) or room remains, before a block that starts no run after
// literals of the block before, after a block that writes more than 64
// bytes, and where fewer than 32 bytes of output come before. A run that
// goes on over most of the next block ends the block's output, up to 255
// bytes, and the loop goes on after it. Advances i and o.
inline void EncodeRunBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                            std::size_t& o_io) {
  constexpr std::size_t kBlock = 64;
  // The output of the next block: the literals before it (at most a block),
  // a byte for each of its own, and two more for a token that begins in its
  // last two bytes (which the next block's taken bytes make up for). Each
  // block after that adds at most a block.
  constexpr std::size_t kMaxOut = 2 * kBlock + 2;
  const std::size_t i = i_io;
  const std::size_t o = o_io;
  if (n - i < 2 * kBlock + 3 || cap - o < kBlock + 3 || o < kStageHistory) return;
  const Vec esc = Splat(kEsc);
  alignas(16) Byte stage[2][kStageSize];
  // None before: its buffer holds the 32 bytes before the output, which the
  // first copy rewrites as they are.
  RunBlockState st{src + i, src + n, dst + o, 0, Eq64(src + i, src + i + 1), 0, src + i, false};
  if (EqByte64(st.p, esc) != 0) return;
  Store(stage[1], Load(st.d - 32));
  Store(stage[1] + 16, Load(st.d - 16));
  Byte* before_here = stage[1];
  // One block into here, the block before's output out of its buffer:
  // false where the loop stops (or starts afresh, st.moved).
  const auto step = [&](Byte* into, Byte* out_of) {
    const bool written = StageRunBlock(st, into, out_of, esc);
    if (written || st.moved) before_here = into;
    return written && st.total_before <= kBlock;
  };
  for (;;) {
    // Blocks while the input and room allow, by pairs, each into a buffer of
    // its own.
    const std::size_t in_blocks = (static_cast<std::size_t>(st.end - st.p) - (kBlock + 3)) / kBlock;
    const auto room = static_cast<std::size_t>(dst + cap - st.d);
    const std::size_t out_blocks = room < kMaxOut ? 0 : (room - (kMaxOut - kBlock)) / kBlock;
    std::size_t blocks = std::min(in_blocks, out_blocks);
    if (blocks == 0) break;
    if (before_here == stage[0]) {
      // The block before went to the first buffer.
      if (!step(stage[1], stage[0])) goto stopped;
      if (--blocks == 0) continue;
    }
    for (std::size_t pairs = blocks / 2; pairs != 0; --pairs) {
      if (!step(stage[0], stage[1]) || !step(stage[1], stage[0])) goto stopped;
    }
    if (blocks % 2 != 0 && !step(stage[0], stage[1])) goto stopped;
    continue;
  stopped:
    if (!st.moved || st.total_before > kBlock) break;
    // A long run ended the block: the blocks go on after it.
    st.moved = false;
    if (static_cast<std::size_t>(st.end - st.p) < 2 * kBlock + 3) break;
    st.eq = Eq64(st.p, st.p + 1);
    if (EqByte64(st.p, esc) != 0) st.eq = 0;
  }
  // The last block's output, which may be longer than what FlushStage
  // copies.
  Byte* const d_before = st.d - st.total_before;
  Byte* const next = before_here == stage[0] ? stage[1] : stage[0];
  FlushStage(d_before, before_here, std::min(st.total_before, kBlock), next);
  for (std::size_t k = kBlock; k < st.total_before; k += W) {
    const std::size_t at = std::min(k, st.total_before - W);
    Store(d_before + at, Load(before_here + kStageHistory + at));
  }
  i_io = static_cast<std::size_t>(st.cur - src);
  o_io = static_cast<std::size_t>(st.d - dst);
}
#endif
