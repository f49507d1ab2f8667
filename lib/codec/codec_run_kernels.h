// Run-length codec loops that take all tokens of a 64-byte block from its
// byte masks at once, for inputs with many short runs (padded records).
// Like codec_kernels.h, no include guard: included once per instruction set
// inside the namespace that supplies Mask64, Eq64, EqByte64, Count64,
// CopyOver, FillOver and (encoder) Below and EmitKept. Each loop leaves
// the input and
// stream at a token boundary, so the general loops of codec_kernels.h go on
// from where it stops.

#if defined(VELT_RLE_ENCODER) && !defined(VELT_RLE_OWN_ENCODER_RUN_BLOCKS)
// The tokens of the encoder depend only on the stretches of equal bytes, not
// on where a token before them ended: a stretch of four or more equal bytes
// (other than 0xAB) becomes one run, anything else literals. The run keeps
// three bytes at its start (0xAB, the byte, the length) and drops the rest,
// so per block the masks give every token at once: with eq flagging a byte
// equal to the next and r4 four equal bytes from a position, a byte is
// dropped where r4 is set three bytes before it, and a run starts where r4
// is set and the byte before differs. The kept bytes are written in one go.
//
// A run that goes on past the block is finished from the next block's mask
// of equal neighbours: it ends at the first byte there that differs from
// the next, so its length is known before its token is written, and the
// next block leaves out the bytes it took. Every token is then whole when
// its block is written, and the loop can stop after any block.
//
// Stops before a block without runs, one that holds 0xAB, a run that would
// take the whole next block (it might pass 255 bytes), a block that keeps
// more than 62 bytes and ends with a run's start, or too little input (two
// blocks and three bytes) or room (a block and three bytes). Advances i and
// o.
inline void EncodeRunBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                            std::size_t& o_io) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = i_io;
  std::size_t o = o_io;
  if (n - i < 2 * kBlock + 3 || cap - o < kBlock + 3) return;
  const std::size_t i_last = n - (2 * kBlock + 3);
  const std::size_t o_last = cap - (kBlock + 3);
  const Vec esc = Splat(kEsc);
  Mask64 eq = Eq64(src + i, src + i + 1);  // bit j: p[j] == p[j + 1]
  // Leading bytes of the block that the last run of the block before took.
  // None where the loop starts: the stream looks at the input afresh there.
  std::size_t taken = 0;
  while (i <= i_last && o <= o_last) {
    const Byte* p = src + i;
    if (EqByte64(p, esc) != 0) break;
    const Mask64 eq_next = Eq64(p + kBlock, p + kBlock + 1);
    const Mask64 r4 = eq & ((eq >> 1) | (eq_next << 63)) & ((eq >> 2) | (eq_next << 62));
    // A block without runs is left to the general loop, which copies plain
    // bytes faster.
    if (r4 == 0) break;
    // The last byte of the block lies in a run that goes on: the next block
    // has its end, unless every byte there is part of it. (Written with
    // branches: a branch-free form of this and of the token's last bytes
    // measured slower on padded records.)
    const bool goes_on = (r4 >> 60) != 0 && (eq >> 63) != 0;
    if (goes_on && eq_next == ~Mask64{0}) break;
    const std::size_t next_taken = goes_on ? static_cast<std::size_t>(std::countr_zero(~eq_next)) + 1 : 0;
    const Mask64 before = Below(taken);
    const Mask64 keep = ~((r4 << 3) | before);
    const Mask64 starts = r4 & ~((eq << 1) | before);
    // A run that starts in the block's last two bytes ends its token past
    // them (by one byte from 62, two from 63), which must fit the block's
    // output.
    const std::size_t total = Count64(keep) + static_cast<std::size_t>(starts >> 62);
    if (total > kBlock) break;
    EmitKept(dst + o, p, keep, starts, kBlock + next_taken, total);
    o += total;
    i += kBlock;
    taken = next_taken;
    eq = eq_next;
  }
  i_io = i + taken;
  o_io = o;
}
#endif

#if defined(VELT_RLE_DECODER)
// Bit 0: q[0] is 0xAB; bit 1: q[1] is.
inline Mask64 EscapePair(const Byte* q) { return Mask64{q[0] == kEsc} | (Mask64{q[1] == kEsc} << 1); }

// Writes the literal stretch from block offset cur up to the run token at e,
// then the run, with whole vectors that may reach past both; returns where
// the output goes on.
inline Byte* PutLiteralsAndRun(Byte* w, const Byte* p, std::size_t cur, std::size_t e) {
  CopyOver(w, p + cur, e - cur);
  w += e - cur;
  const std::size_t r = p[e + 2];
  FillOver(w, p[e + 1], r);
  return w + r;
}

// Decodes blocks whose 0xAB bytes all begin runs (no escaped escape and no
// length of 0xAB, which would make a 0xAB stand for something else): each
// token's place comes from the block's mask, the literal before it and the
// run are written with whole vectors that may reach past them, and the next
// token overwrites what they wrote too much. That needs room: a block is
// written without a check per token while its tokens cannot reach the
// capacity (each at most a 255-byte run, the literals at most the block),
// else every token is taken with kRoom bytes left, so that no store reaches
// it; the general loop writes the last bytes exactly.
//
// The exits always have that room but for a segment's last few hundred
// bytes: they decode into the exit buffer of MaxSegmentLength bytes and
// refuse a segment whose expansion fills it, so the capacity they give is
// always larger than what is written.
//
// Stops before a block without tokens or with another use of 0xAB, and
// where fewer than two blocks of input or kRoom of room remain. Advances i and o.
inline void DecodeRunBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                            std::size_t& o_io) {
  constexpr std::size_t kBlock = 64;
  constexpr std::size_t kRoom = kBlock + 256;  // a literal of a block, then a run
  const Vec esc = Splat(kEsc);
  std::size_t i = i_io;
  std::size_t o = o_io;
  if (n - i < 2 * kBlock + 3) return;
  Mask64 tokens = EqByte64(src + i, esc);
  while (n - i >= 2 * kBlock + 3 && cap - o >= kRoom) {
    if (tokens == 0) break;  // plain bytes: the general loop copies them faster
    const Byte* p = src + i;
    // A 0xAB one or two bytes after a token start, also where the last
    // tokens reach into the next block, is not a run of its own.
    const Mask64 spill = EscapePair(p + kBlock);
    if ((tokens & ((tokens << 1) | (tokens << 2))) != 0 || (((tokens >> 62) | (tokens >> 63)) & spill) != 0) break;
    // The next block's tokens, found before this block's are written: the
    // token loop ends at a count that follows no pattern, and the next block
    // then starts without waiting for its load and compare.
    const Mask64 ahead = EqByte64(p + kBlock, esc);
    const Mask64 ahead_top = EscapePair(p + 2 * kBlock);
    std::size_t cur = 0;  // block offset of the next literal
    if (cap - o >= Count64(tokens) * kRleMaxRun + kRoom) {
      Byte* w = dst + o;
      do {
        const auto e = static_cast<std::size_t>(std::countr_zero(tokens));
        tokens &= tokens - 1;
        w = PutLiteralsAndRun(w, p, cur, e);
        cur = e + 3;
      } while (tokens != 0);
      o = static_cast<std::size_t>(w - dst);
    } else {
      while (tokens != 0) {
        if (cap - o < kRoom) {
          i_io = i + cur;
          o_io = o;
          return;
        }
        const auto e = static_cast<std::size_t>(std::countr_zero(tokens));
        tokens &= tokens - 1;
        o = static_cast<std::size_t>(PutLiteralsAndRun(dst + o, p, cur, e) - dst);
        cur = e + 3;
      }
    }
    if (cur < kBlock) {
      if (cap - o < kRoom) {
        i += cur;
        break;
      }
      CopyOver(dst + o, p + cur, kBlock - cur);
      o += kBlock - cur;
      cur = kBlock;
    }
    // The last token may reach one or two bytes into the next block.
    const std::size_t skip = cur - kBlock;
    tokens = (ahead >> skip) | ((ahead_top << (63 - skip)) << 1);
    i += cur;
  }
  i_io = i;
  o_io = o;
}
#endif
