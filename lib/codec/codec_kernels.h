// Run-length codec loops, written once against the vector operations of
// codec_simd.h. No include guard: codec_encode.cpp and codec_decode.cpp
// include this file once per instruction set, inside the namespace that
// supplies Vec, Mask, W, Load, Store, Splat, Eq, Invert, First, Special,
// CopyHead, FillHead and `narrower`. Each source uses only its own loop.

// Number of leading bytes of s equal to c, at most limit; avail (>= limit)
// bytes may be read.
inline std::size_t SkipByte(const Byte* s, std::size_t limit, std::size_t avail, Byte c) {
  const Vec v = Splat(c);
  std::size_t k = 0;
  for (; k < limit && k + W <= avail; k += W) {
    const Mask m = Invert(Eq(Load(s + k), v));
    if (m != 0) return std::min(limit, k + First(m));
  }
  if (k >= limit) return limit;
  return k + narrower::SkipByte(s + k, limit - k, avail - k, c);
}

// Copies the leading bytes of s other than c to d, at most limit (the room
// in d, <= avail) of them; returns how many were copied.
inline std::size_t CopyUntilByte(const Byte* s, Byte* d, std::size_t limit, std::size_t avail, Byte c) {
  const Vec v = Splat(c);
  std::size_t k = 0;
  for (; k + W <= limit; k += W) {
    const Vec a = Load(s + k);
    const Mask m = Eq(a, v);
    if (m != 0) {
      const std::size_t t = First(m);
      CopyHead(d + k, s + k, a, t);
      return k + t;
    }
    Store(d + k, a);
  }
  if (k + W <= avail) {
    // The room ends inside this block; the input goes on.
    const Vec a = Load(s + k);
    const Mask m = Eq(a, v);
    const std::size_t t = std::min(m != 0 ? First(m) : W, limit - k);
    CopyHead(d + k, s + k, a, t);
    return k + t;
  }
  return k + narrower::CopyUntilByte(s + k, d + k, limit - k, avail - k, c);
}

// Copies the encoder's literal stretch: the bytes before the first 0xAB or
// the first place where four equal bytes begin, at most limit (<= avail) of
// them. Special decides S positions per block and reads at most W + 3 bytes.
inline std::size_t CopyLiterals(const Byte* s, Byte* d, std::size_t limit, std::size_t avail) {
  const Vec esc = Splat(kEsc);
  std::size_t k = 0;
  for (; k + W <= limit && k + W + 3 <= avail; k += S) {
    const Vec a = Load(s + k);
    const Mask m = Special(s + k, esc);
    if (m != 0) {
      const std::size_t t = First(m);
      CopyHead(d + k, s + k, a, t);
      return k + t;
    }
    StoreSpan(d + k, a);
  }
  while (k + W + 3 <= avail) {
    // The room ends within this block; the input goes on.
    const Vec a = Load(s + k);
    const Mask m = Special(s + k, esc);
    if (m != 0 || limit - k <= S) {
      const std::size_t t = std::min(m != 0 ? First(m) : S, limit - k);
      CopyHead(d + k, s + k, a, t);
      return k + t;
    }
    CopyHead(d + k, s + k, a, S);  // S < limit - k < W
    k += S;
  }
  return k + narrower::CopyLiterals(s + k, d + k, limit - k, avail - k);
}

// Writes k copies of c.
inline void Fill(Byte* d, Byte c, std::size_t k) {
  const Vec v = Splat(c);
  std::size_t p = 0;
  for (; p + W <= k; p += W) Store(d + p, v);
  FillHead(d + p, v, c, k - p);
}

#if defined(VELT_RLE_ENCODER)
// Writes the escaped escapes for the leading 0xAB bytes of s, at most limit
// (<= avail) of them, two bytes each; returns how many bytes of s it took.
inline std::size_t EscapeStretch(const Byte* s, Byte* d, std::size_t limit, std::size_t avail) {
  const Vec esc = Splat(kEsc);
  std::size_t k = 0;
  for (; k + W <= limit; k += W) {
    const Mask m = Invert(Eq(Load(s + k), esc));
    if (m != 0) {
      const std::size_t t = First(m);
      Fill(d + 2 * k, kEsc, 2 * t);
      return k + t;
    }
    Store(d + 2 * k, esc);
    Store(d + 2 * k + W, esc);
  }
  const std::size_t t = SkipByte(s + k, limit - k, avail - k, kEsc);
  Fill(d + 2 * k, kEsc, 2 * t);
  return k + t;
}

// Length of the run of b that starts with four bytes b at s (n bytes left):
// 4 to 255.
inline std::size_t RunLength(const Byte* s, std::size_t n, Byte b) {
  return 4 + SkipByte(s + 4, std::min<std::size_t>(n - 4, kRleMaxRun - 4), n - 4, b);
}
#endif

#if defined(VELT_RLE_ENCODER) && defined(VELT_RLE_BLOCK_TOKENS)
// Encodes whole blocks while at least W + 3 input bytes and 3W + 3 bytes of
// room remain, taking every token that lies inside the block from the bit
// masks of one block load: where 0xAB bytes and runs start, and which
// neighbours are equal (which gives a run's length). The masks do not depend
// on where the previous token ended, so one load serves all tokens of the
// block. Stops at a token that reaches past the block (a long run or a long
// stretch of 0xAB), leaving it to the general loop, and after a block that
// held a run, for the run-block loop. Advances i and o.
inline void EncodeBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                         std::size_t& o_io) {
  const Vec esc = Splat(kEsc);
  std::size_t i = i_io;
  std::size_t o = o_io;
  bool runs = false;
  while (!runs && n - i >= W + 3 && cap - o >= 3 * W + 3) {
    const Byte* p = src + i;
    const Vec a = Load(p);
    Mask sp = Special(p, esc);
    if (sp == 0) {
      StoreSpan(dst + o, a);
      i += S;
      o += S;
      // Plain text: go on two blocks at a time until something turns up.
      while (n - i >= S + W + 3 && cap - o >= S + 3 * W + 3) {
        const Vec a0 = Load(src + i);
        const Vec a1 = Load(src + i + S);
        const Mask s0 = Special(src + i, esc);
        const Mask s1 = Special(src + i + S, esc);
        if ((s0 | s1) != 0) {
          if (s0 == 0) {
            StoreSpan(dst + o, a0);
            i += S;
            o += S;
          }
          break;
        }
        StoreSpan(dst + o, a0);
        StoreSpan(dst + o + S, a1);
        i += 2 * S;
        o += 2 * S;
      }
      continue;
    }
    const Mask escapes = Eq(a, esc);
    const Mask same = Eq(a, Load(p + 1));  // p[j] == p[j + 1]
    std::size_t cur = 0;                   // block offset of the next token
    for (;;) {
      const std::size_t e = First(sp);
      CopyPart(dst + o, p, a, cur, e);
      o += e - cur;
      if ((escapes >> e) & 1) {
        const Mask end = ClearBelow(Invert(escapes), e);
        std::size_t k;
        if (end != 0) {
          k = First(end) - e;
          Fill(dst + o, kEsc, 2 * k);
        } else {
          // The 0xAB stretch goes on past the block: as far as room allows.
          const std::size_t room_pairs = (cap - o) / 2;
          k = EscapeStretch(p + e, dst + o, std::min(n - i - e, room_pairs), n - i - e);
          if (k == room_pairs) {
            i_io = i + e + k;
            o_io = o + 2 * k;
            return;
          }
        }
        o += 2 * k;
        cur = e + k;
      } else {
        const Mask end = ClearBelow(Invert(same), e);
        // Up to the first unequal neighbour in the block, else further on.
        const std::size_t r = end != 0 ? First(end) - e + 1 : RunLength(p + e, n - i - e, p[e]);
        dst[o] = kEsc;
        dst[o + 1] = p[e];
        dst[o + 2] = static_cast<Byte>(r);
        o += 3;
        cur = e + r;
        runs = true;
      }
      if (cur >= S) break;
      if (cap - o < 3 * W + 3) {
        i_io = i + cur;
        o_io = o;
        return;
      }
      sp = ClearBelow(sp, cur);
      if (sp == 0) {
        CopyPart(dst + o, p, a, cur, S);
        o += S - cur;
        cur = S;
        break;
      }
    }
    i += cur;
  }
  i_io = i;
  o_io = o;
}
#endif

#if defined(VELT_RLE_DECODER) && defined(VELT_RLE_BLOCK_TOKENS)
// Decodes whole blocks while at least W + 2 input bytes and W + 256 bytes of
// room remain, finding every token of the block from one mask of its 0xAB
// bytes. Stops at a stretch of escaped escapes that reaches past the block,
// leaving it to the general loop, and after a block that held a run, for
// the run-block loop. Advances i and o.
inline void DecodeBlocks(const Byte* src, Byte* dst, std::size_t n, std::size_t cap, std::size_t& i_io,
                         std::size_t& o_io) {
  const Vec esc = Splat(kEsc);
  std::size_t i = i_io;
  std::size_t o = o_io;
  bool runs = false;
  while (!runs && n - i >= W + 2 && cap - o >= W + 256) {
    const Byte* p = src + i;
    const Vec a = Load(p);
    Mask escapes = Eq(a, esc);
    if (escapes == 0) {
      Store(dst + o, a);
      i += W;
      o += W;
      continue;
    }
    std::size_t cur = 0;  // block offset of the next token
    for (;;) {
      const std::size_t e = First(escapes);
      CopyPart(dst + o, p, a, cur, e);
      o += e - cur;
      const Byte c = p[e + 1];
      if (c == kEsc) {
        // Each pair of a stretch of 0xAB is one 0xAB; an odd last one
        // starts the next token.
        const Mask end = ClearBelow(Invert(escapes), e);
        if (end == 0) {
          i_io = i + e;
          o_io = o;
          return;
        }
        const std::size_t pairs = (First(end) - e) / 2;
        Fill(dst + o, kEsc, pairs);
        o += pairs;
        cur = e + 2 * pairs;
      } else {
        const std::size_t r = p[e + 2];
        Fill(dst + o, c, r);
        o += r;
        cur = e + 3;
        runs = true;
      }
      if (cur >= W) break;
      if (cap - o < W + 256) {
        i_io = i + cur;
        o_io = o;
        return;
      }
      escapes = ClearBelow(escapes, cur);
      if (escapes == 0) {
        CopyPart(dst + o, p, a, cur, W);
        o += W - cur;
        cur = W;
        break;
      }
    }
    i += cur;
  }
  i_io = i;
  o_io = o;
}

// DecodeBlocks kept out of line, where kCallDecodeBlocks says so.
[[gnu::noinline]] inline void DecodeBlocksCalled(const Byte* src, Byte* dst, std::size_t n, std::size_t cap,
                                                 std::size_t& i_io, std::size_t& o_io) {
  DecodeBlocks(src, dst, n, cap, i_io, o_io);
}
#endif

#if defined(VELT_RLE_ENCODER)
// Token by token: a 0xAB becomes 0xAB 0xAB; four to 255 equal bytes b
// become 0xAB b n; any other byte stands for itself. Stretches of plain
// bytes and of 0xAB are handled in bulk, and the capacity is checked once
// per stretch instead of per byte, with the same outcome. n, cap > 0.
inline int32_t Encode(const Byte* src, Byte* dst, std::size_t n, std::size_t cap) {
  std::size_t i = 0;  // input bytes consumed
  std::size_t o = 0;  // stream bytes written
  while (i < n && o < cap) {
#if defined(VELT_RLE_BLOCK_TOKENS)
    // Blocks with runs in the run-block loop; what it leaves
    // (plain bytes, 0xAB bytes, a long run) token by token until a run
    // turns up again.
    EncodeRunBlocks(src, dst, n, cap, i, o);
    const std::size_t at = i;
    EncodeBlocks(src, dst, n, cap, i, o);
    // It stops after a block with a run: the run-block loop looks at what
    // follows first. (Going on to the literals below instead copied the
    // plain bytes after that run at their slower pace, up to the next
    // token, which on text can be a kilobyte away.)
    if (i != at) continue;
#endif
    const std::size_t lit = CopyLiterals(src + i, dst + o, std::min(n - i, cap - o), n - i);
    i += lit;
    o += lit;
    if (i == n || o == cap) break;

    const Byte b = src[i];
    if (b == kEsc) {
      // k escape bytes become k escaped escapes of two bytes each.
      const std::size_t room_pairs = (cap - o) / 2;
      const std::size_t k = EscapeStretch(src + i, dst + o, std::min(n - i, room_pairs), n - i);
      o += 2 * k;
      i += k;
      if (k == room_pairs && i < n && src[i] == kEsc) {
        // The next escaped escape does not fit. The room left is 0 (the
        // count equals the capacity) or 1 (the result is count + 1): the
        // capacity in both cases.
        return static_cast<int32_t>(cap);
      }
      continue;
    }

    // Four equal bytes b begin here (CopyLiterals stopped on them).
    if (cap - o < 3) {
      // The token does not fit: count + 3, held within the result's range.
      return static_cast<int32_t>(std::min<std::size_t>(o + 3, INT32_MAX));
    }
    const std::size_t r = RunLength(src + i, n - i, b);
    dst[o] = kEsc;
    dst[o + 1] = b;
    dst[o + 2] = static_cast<Byte>(r);
    o += 3;
    i += r;
  }
  return static_cast<int32_t>(o);
}
#endif

#if defined(VELT_RLE_DECODER)
// Token by token: a byte other than 0xAB stands for itself, 0xAB 0xAB for
// one 0xAB, 0xAB b n for n copies of b. Plain bytes and escaped escapes are
// copied in bulk; output stops exactly at the capacity, even inside a run.
// A token cut off by the end of the input is not expanded. n, cap > 0.
//
// Where the function lies matters: on the AMD EPYC machines we measure on,
// the same loops decode padded records a sixth faster (AVX-512) and text
// nearly twice as fast (SSE2) at some offsets from a 64-byte boundary than
// at others, and the linker had put both decoders of VELTRECV at slow ones
// (and moved them in codec_bench with every change to the encoder). So the
// function starts on a 64-byte boundary, and after its entry comes a gap of
// 48 bytes that a jump skips once per call: of gaps of 0, 16, 32 and 48
// bytes, the best for both paths. A change to the loops moves them within
// the function; measure the four gaps again then (decode of (a) and (c) in
// codec_bench and codec_bench_sse2).
VELT_RLE_DECODE_ALIGN inline int32_t Decode(const Byte* src, Byte* dst, std::size_t n, std::size_t cap,
                                            RleDecodeInfo& info) {
  VELT_RLE_DECODE_GAP();
  std::size_t i = 0;  // input bytes of tokens expanded in full
  std::size_t o = 0;  // bytes written
  for (;;) {
#if defined(VELT_RLE_BLOCK_TOKENS)
    DecodeRunBlocks(src, dst, n, cap, i, o);
    if constexpr (kCallDecodeBlocks) {
      DecodeBlocksCalled(src, dst, n, cap, i, o);
    } else {
      DecodeBlocks(src, dst, n, cap, i, o);
    }
#endif
    const std::size_t lit = CopyUntilByte(src + i, dst + o, std::min(n - i, cap - o), n - i, kEsc);
    i += lit;
    o += lit;
    if (o == cap || i == n) break;

    // src[i] is an escape.
    if (n - i < 2) {
      info.truncated = true;
      break;
    }
    const Byte c = src[i + 1];
    if (c == kEsc) {
      // A stretch of escape bytes: each pair is one 0xAB. An odd last one
      // starts the next token.
      const std::size_t pairs = SkipByte(src + i, std::min(n - i, 2 * (cap - o)), n - i, kEsc) / 2;
      Fill(dst + o, kEsc, pairs);
      o += pairs;
      i += 2 * pairs;
      continue;
    }
    if (n - i < 3) {
      info.truncated = true;
      break;
    }
    const std::size_t r = src[i + 2];
    const std::size_t room = cap - o;
    if (r >= room) {
      // The capacity ends inside this run (or exactly at its end).
      Fill(dst + o, c, room);
      o = cap;
      if (r == room) i += 3;
      break;
    }
    Fill(dst + o, c, r);
    o += r;
    i += 3;
  }
  info.consumed = static_cast<int32_t>(i);
  return static_cast<int32_t>(o);
}
#endif
