// The lines of the statistics file, as the send exit writes them and as
// veltchan reads them back: the formats live here once for both.
#pragma once

namespace velt {

// One line per segment while Statistics is 2: TotalSegs, CompressedSegs,
// LastBefore, LastAfter, LastRatio and MeanRatio; the mean reads "N/A"
// until a segment has compressed.
inline constexpr char kStatsSegmentLine[] = "% 5.5ld % 5.5ld  B=% 5.5ld A=% 5.5ld Ratio =%7.4f (Mean =%7.4f) \n";
inline constexpr char kStatsSegmentLineNoMean[] = "% 5.5ld % 5.5ld  B=% 5.5ld A=% 5.5ld Ratio =%7.4f (Mean = N/A) \n";

// The summary that closes a channel instance: the first line always, the
// ratios only when a segment compressed.
inline constexpr char kStatsTotalLine[] = "Total msgs % 5.5ld of which  %5.5ld were compressed\n";
inline constexpr char kStatsMeanLine[] = "Mean compression ratio of compressed segs =  %7.4f\n";
inline constexpr char kStatsOverallLine[] = "Overall compression ratio of all data     =  %7.4f\n";

}  // namespace velt
