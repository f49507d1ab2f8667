// The decoder's run-block loop, for inputs with many short runs (padded
// records): every token of a 64-byte block from the block's mask of 0xAB
// bytes. Like codec_kernels.h, no include guard: included once per
// instruction set inside the namespace that supplies Mask64, EqByte64,
// Count64, CopyOver, FillOver, kOverReach, LowestBit and EscapesClose
// (codec_simd.h). The loop leaves the input and output at a token
// boundary, so the token loops of codec_kernels.h go on from where it stops.

#if defined(VELT_RLE_DECODER)
// Writes the literal stretch from lit up to the run token at q, then the
// run, with whole vectors that may reach past both; returns where the
// output goes on.
inline Byte* PutLiteralsAndRun(Byte* w, const Byte* lit, const Byte* q) {
  const auto k = static_cast<std::size_t>(q - lit);
  CopyOver(w, lit, k);
  w += k;
  const std::size_t r = q[2];
  FillOver(w, q[1], r);
  return w + r;
}

// Decodes blocks whose 0xAB bytes all begin runs (no escaped escape and no
// length of 0xAB, which would make a 0xAB stand for something else): each
// token's place comes from the block's mask, the literal before it and the
// run are written with whole vectors that may reach past them, and the next
// token overwrites what they wrote too much.
//
// The loop keeps positions, not block offsets: a literal stretch runs from
// the end of the last token, in this block or an earlier one, to the next,
// so a block costs only its mask and its checks, and no store of its own
// for the literal bytes at its end. A token that starts in the last two
// bytes of a block takes the next block's first bytes, which are then no
// 0xAB (the test for escapes close together sees to it), so the next
// block's mask has no token there.
//
// The stores need room: a block is written without a check per token while
// its tokens cannot reach the capacity (each at most a 255-byte run, the
// literals at most the stretch from the last token before the block to the
// block's end), else every token is taken with kRoom bytes left, so that no
// store reaches the capacity; the general loop writes the last bytes
// exactly. The exits always have that room but for a segment's last few
// hundred bytes: they decode into the exit buffer of MaxSegmentLength bytes
// and refuse a segment whose expansion fills it, so the capacity they give
// is always larger than what is written.
//
// Stops before a block without tokens or with another use of 0xAB, and
// where fewer than two blocks of input or kRoom of room remain, always at a
// token boundary. Advances i and o.
inline void DecodeRunBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                            std::size_t& o_io) {
  constexpr std::size_t kBlock = 64;
  // What one token may write: a literal stretch that began in the block
  // before, rounded up to whole stores, then a run and its overreach.
  constexpr std::size_t kRoom = 2 * kBlock + kRleMaxRun + kOverReach;
  // What a block may write: at most 22 tokens (0xAB bytes at least three
  // apart) and the literals from the last token before it.
  constexpr std::size_t kBlockMost = 2 * kBlock + (kBlock + 2) / 3 * kRleMaxRun + kOverReach;
  if (n - i_io < 2 * kBlock) return;
  const Vec esc = Splat(kEsc);
  const Byte* p = src + i_io;
  const Byte* const p_last = src + n - 2 * kBlock;  // the next block's mask is read too
  const Byte* lit = p;                              // the token boundary the output has reached
  Byte* w = dst + o_io;
  Byte* const w_end = dst + cap;
  Mask64 tokens = EqByte64(p, esc);
  while (tokens != 0 && p <= p_last) {
    const Mask64 ahead = EqByte64(p + kBlock, esc);
    if (EscapesClose(p, tokens, ahead)) break;
    if (static_cast<std::size_t>(w_end - w) < kBlockMost) [[unlikely]] {
      const std::size_t most = static_cast<std::size_t>(p + kBlock - lit) + Count64(tokens) * kRleMaxRun + kOverReach;
      if (static_cast<std::size_t>(w_end - w) < most) {
        // Near the end of the room: a check before each token. (This loop
        // and the one below are written out twice: one template for both
        // decoded records an eighth slower, its position kept in memory.)
        do {
          if (static_cast<std::size_t>(w_end - w) < kRoom) goto stop;
          const std::size_t e = LowestBit(tokens);
          tokens &= tokens - 1;
          w = PutLiteralsAndRun(w, lit, p + e);
          lit = p + e + 3;
        } while (tokens != 0);
        p += kBlock;
        tokens = ahead;
        continue;
      }
    }
    do {
      const std::size_t e = LowestBit(tokens);
      tokens &= tokens - 1;
      w = PutLiteralsAndRun(w, lit, p + e);
      lit = p + e + 3;
    } while (tokens != 0);
    p += kBlock;
    tokens = ahead;
  }
stop:
  i_io = static_cast<std::size_t>(lit - src);
  o_io = static_cast<std::size_t>(w - dst);
}
#endif
