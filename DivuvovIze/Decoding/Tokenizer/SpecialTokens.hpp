#pragma once

namespace divuvovize {

// The ids of the speech vocabulary's special tokens, resolved once from the tokenizer. Ids below
// specialTokenBegin are text; ids from timeTokenBegin upward are timestamps, one per 0.02 s.
// The defaults are the multilingual vocabulary's ids, used for any token the vocabulary lacks.
struct SpecialTokens {
  int endToken = 50257;               // "<|endoftext|>"
  int englishToken = 50259;           // "<|en|>"
  int noSpeechToken = 50362;          // "<|nospeech|>"
  int noTimestampsToken = 50363;      // "<|notimestamps|>"
  int specialTokenBegin = 50257;      // "<|endoftext|>", the first special id
  int startOfPreviousToken = 50361;   // "<|startofprev|>"
  int startOfTranscriptToken = 50258; // "<|startoftranscript|>"
  int timeTokenBegin = 50364;         // "<|0.00|>"
  int transcribeToken = 50359;        // "<|transcribe|>"
  int translateToken = 50358;         // "<|translate|>"
  int whitespaceToken = 220;          // " "

  bool operator==(const SpecialTokens &) const = default;
};

} // namespace divuvovize
