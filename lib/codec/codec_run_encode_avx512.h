// The encoder's run-block loop of the AVX-512 path. No include guard:
// included once, inside namespace avx512, by codec_instances.h for the
// encoder, where the namespace supplies EmitKept62 and the operations beside
// it (codec_simd.h). The loop leaves the input and stream at a token
// boundary, so the token loops of codec_kernels.h go on from where it stops.
//
// The tokens of the encoder depend only on the stretches of equal bytes, not
// on where a token before them ended: a stretch of four or more equal bytes
// (other than 0xAB) becomes one run, anything else literals. The run keeps
// three bytes at its start (0xAB, the byte, the length) and drops the rest,
// so the masks of a stretch of input give every token in it at once: with
// eq flagging a byte equal to the next and r4 four equal bytes from a
// position, a byte is dropped where r4 is set three bytes before it, and a
// run starts where r4 is set and the byte before differs. The kept bytes are
// written in one go. (The SSE2 loop, codec_run_encode_sse2.h, takes its
// tokens from the same masks, a 64-byte block at a time.)
//
// This loop takes the input in steps of 62 bytes, each decided by one
// 64-byte mask of equal neighbours (bit j: p[j] == p[j + 1]; the next step's
// mask covers bytes 62 and 63 again). Four equal bytes from each of the 62
// positions then follow from that mask alone, the step keeps at most 62
// bytes, and a token that starts in its last two bytes still ends within 64:
// no test of the step's output size is needed.
//
// Which bytes a run drops does not depend on where the step starts: the
// first three bytes of the next step are dropped, or written by a token of
// this one, where bits 59 to 61 of r4 say so (kFree62), and the rest as in
// any step, three bytes after a bit of r4. A run that goes on past the step
// ends where the next step's mask first shows unequal neighbours, so the
// length of its token is known before the token is written, without a
// branch on whether a run goes on, and the loop can stop after any step.
// Where that run covers the whole next step, its end is looked for further
// on (at most 255 bytes from its start) and the loop goes on after it, as
// the general loop would after the token.
#if defined(VELT_RLE_ENCODER)
// With the token loops (codec_kernels.h, included after this file).
inline std::size_t SkipByte(const Byte* s, std::size_t limit, std::size_t avail, Byte c);

// Four equal bytes from each of a step's 62 positions, from its mask of equal
// neighbours. Rotations instead of shifts: bits 62 and 63 are noise, which
// every use keeps out (a step where only they are set is encoded as plain
// bytes).
inline Mask64 Runs62(Mask64 eq) {
  const Mask64 t3 = eq & std::rotr(eq, 1);
  return t3 & std::rotr(t3, 1);
}

// Bits 0 to 2 clear: the leading bytes of the next step that the run
// covering byte 61 takes or writes its token into, from bits 59 to 61 of r4
// (index r4 >> 59; bits 62 and 63 of r4 do not count, see Runs62). Bits 62
// and 63 are clear too: those bytes belong to the next step.
alignas(64) inline constexpr std::uint64_t kFree62[32] = {
#define VELT_F(m) ~(((m) >= 4 ? 7u : (m) >= 2 ? 3u : (m)) | 0xC000000000000000ULL)
    VELT_F(0), VELT_F(1), VELT_F(2), VELT_F(3), VELT_F(4), VELT_F(5), VELT_F(6), VELT_F(7),
    VELT_F(0), VELT_F(1), VELT_F(2), VELT_F(3), VELT_F(4), VELT_F(5), VELT_F(6), VELT_F(7),
    VELT_F(0), VELT_F(1), VELT_F(2), VELT_F(3), VELT_F(4), VELT_F(5), VELT_F(6), VELT_F(7),
    VELT_F(0), VELT_F(1), VELT_F(2), VELT_F(3), VELT_F(4), VELT_F(5), VELT_F(6), VELT_F(7),
#undef VELT_F
};

// Stops before a step that holds 0xAB or has no run, or where fewer than two
// blocks and three bytes of input or a block and three bytes of room remain.
// Called out of line: inlined into the token loop it was left too few
// registers. Advances i and o.
[[gnu::noinline]] inline void EncodeRunSteps(const Byte* src, Byte* dst, std::size_t n, std::size_t cap,
                                             std::size_t& i_io, std::size_t& o_io) {
  constexpr std::size_t kStep = 62;
  constexpr Mask64 kNextStep = Mask64{3} << 62;  // the mask bits of bytes 62, 63
  const Byte* p = src + i_io;
  Byte* d = dst + o_io;
  const Byte* const p_last = src + (n - (2 * 64 + 3));
  Byte* const d_last = dst + (cap - (64 + 3));
  const KeptConsts62 consts = MakeKeptConsts62();
  Vec a = Load(p);
  Mask64 eq = Eq(a, Load(p + 1));
  // The bytes of this step that the run before did not take (all where the
  // loop starts: it looks at the input afresh), and of those the ones that
  // do not go on from the byte before, where a run may start. The second is
  // the next step's "free" less its bytes that equal the one before, which
  // is also where the run covering byte 61 ends: both come out of one mask.
  Mask64 free = ~kNextStep;
  Mask64 fresh = ~((eq << 1) | kNextStep);
  // The input from p up to `clean` holds no 0xAB: it is looked for ahead of
  // the steps, eight vectors to a test, instead of by a compare in every
  // step (a compare into a mask register costs more here than the loop's
  // other instructions). The stretch looked at doubles each time, so that
  // a loop that stops soon has not looked far.
  const Byte* clean = p;
  std::size_t scan = 128;
  while (p <= p_last && d <= d_last) {
    if (clean < p + 64 + kStep) {
      if (clean < p) clean = p;
      scan = std::min<std::size_t>(2 * scan, 4096);
      const std::size_t k = std::min<std::size_t>(scan, static_cast<std::size_t>(src + n - clean));
      clean += FirstEscape(clean, k);
    }
    if (clean < p + 64) break;  // 0xAB in the step's 64 bytes
    // As many steps as the input, its bytes without 0xAB and the room allow,
    // with one test per step: each step takes at least 62 input bytes and
    // writes at most 64.
    const Byte* const stop =
        std::min(std::min(p_last, clean - 64), p + kStep * (static_cast<std::size_t>(d_last - d) / 64));
    do {
      const Vec a_next = Load(p + kStep);
      const Mask64 eq_next = Eq(a_next, Load(p + kStep + 1));
      const Mask64 r4 = Runs62(eq);  // bits 62, 63 kept out below by kNextStep
      if (r4 == 0) goto done;
      const Mask64 free_next = kFree62[r4 >> 59];
      const Mask64 fresh_next = ~(eq_next << 1) & free_next;
      const Mask64 keep = ~(r4 << 3) & free;
      const Mask64 starts = r4 & fresh;
      // A start at 60 or 61 writes its token's last bytes past the kept ones.
      const std::size_t total = Popcount(keep) + static_cast<std::size_t>(starts >> 60);
      if (fresh_next != 0) [[likely]] {
        // The last run ends at the first fresh byte of the next step (at its
        // first byte where no run goes on).
        EmitKept62(d, a, a_next, keep, starts, kStep + LowestBit(fresh_next), total, consts);
        d += total;
        p += kStep;
        free = free_next;
        fresh = fresh_next;
        eq = eq_next;
        a = a_next;
        continue;
      }
      // The last run covers the whole next step, to byte 123 at least; it
      // starts in this step (one from before that covered all of it came here
      // in the step before). Its end from the bytes further on, at most 255
      // bytes from its start; the loop goes on afresh after it, as the
      // general loop would after the token.
      const std::size_t s = 63 - static_cast<std::size_t>(std::countl_zero(starts));
      const std::size_t limit = std::min<std::size_t>(s + kRleMaxRun, static_cast<std::size_t>(src + n - p));
      const std::size_t end = 124 + SkipByte(p + 124, limit - 124, limit - 124, p[s]);
      EmitKept62(d, a, a_next, keep, starts, end, total, consts);
      if (s == 61) d[total - 2] = p[61];  // the token's byte, where end may pass 127
      d += total;
      p += end;
      free = ~kNextStep;
      fresh = ~kNextStep;
      if (p <= p_last) {
        a = Load(p);
        eq = Eq(a, Load(p + 1));
        fresh = ~((eq << 1) | kNextStep);
      }
    } while (p <= stop);
  }
done:
  // The bytes of the step the loop stopped before that the run before took.
  i_io = static_cast<std::size_t>(p - src) + LowestBit(fresh);
  o_io = static_cast<std::size_t>(d - dst);
}

// The first steps' tests inline, so that the token loop calls the steps only
// where runs begin: in each of the first two steps (a call that stops
// after one step costs more than the general loop takes for it, as on text
// with the odd run of blanks), and no 0xAB in the first.
inline void EncodeRunBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                            std::size_t& o_io) {
  if (n - i_io < 2 * 64 + 3 || cap - o_io < 64 + 3) return;
  const Byte* p = src + i_io;
  const Vec a = Load(p);
  if (Runs62(Eq(a, Load(p + 1))) == 0 || Runs62(Eq(Load(p + 62), Load(p + 63))) == 0 || Eq(a, Splat(kEsc)) != 0) {
    return;
  }
  EncodeRunSteps(src, dst, n, cap, i_io, o_io);
}
#endif
