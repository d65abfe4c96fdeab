// VornClient's stimulation senders: each builds the word lists of its
// packets and hands them to SendStimWordLists, which frames them into
// datagrams to the KEL.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "StimParamManager.h"
#include "StimSeq.h"
#include "VornClient.h"

namespace vorn {

namespace {
// Stop words by code: an empty sequence (period 0, no repeats) with the
// action "immed", "curcyc" or "allcyc".
constexpr int kStopCodeCount = 3;
}  // namespace

int VornClient::SendStimString(const std::string& stimString) {
  const StimParamManager params(stimString);
  // A string that names no electrode at all is no stim command either.
  if (params.GetCount() == 0 || !params.AllValid()) return 2;

  std::vector<StimWordList> lists(params.GetCount());
  for (size_t i = 0; i < params.GetCount(); ++i) {
    lists[i].electrode = params.GetElectrode(i);
    lists[i].words.push_back(params.GetHeaderWord(i));
    const std::vector<uint32_t> segments = params.GetSegmentWords(i);
    lists[i].words.insert(lists[i].words.end(), segments.begin(), segments.end());
  }
  return SendStimWordLists(lists);
}

int VornClient::SendStimStop(const std::vector<uint32_t>& electrodes, int code) {
  if (code < 0 || code >= kStopCodeCount) return 2;
  const uint32_t word = StimHeaderWord(StimActionWord(code), 0, 0);

  std::vector<StimWordList> lists(electrodes.size());
  for (size_t i = 0; i < electrodes.size(); ++i) {
    lists[i].electrode = electrodes[i];
    lists[i].words.push_back(word);
  }
  return SendStimWordLists(lists);
}

int VornClient::SendStimSequences(const StimSeqMap& map) {
  std::vector<StimWordList> lists;
  for (uint32_t electrode : map.GetElectrodes()) {
    StimWordList list;
    list.electrode = electrode;
    list.words = map.GetWords(electrode);
    // No header word: the sequence's action is invalid; send none of them.
    if (list.words.empty()) return 2;
    lists.push_back(std::move(list));
  }
  return SendStimWordLists(lists);
}

}  // namespace vorn
