#pragma once
// Timetables for the board and notice tests: a Rig at 1360 x 770 (5 px a grid step both ways)
// whose clock stands at 10:00.
#include <string>
#include <vector>

#include "test_support/rig.h"

namespace plasma::test {

inline TrainRecord train(std::string destination, std::string departTime, Int16 platform = 1) {
  return {std::move(destination), std::move(departTime), platform, "Alpha,Beta"};
}

inline DomesticRecord domestic(std::string departTime, Int16 platform = 2) {
  return {std::move(departTime), platform};
}

struct BoardRig : Rig {
  BoardRig(int width = 1360, int height = 770) : Rig(width, height) {
    d().store.clockMinutes = 600;
    d().layoutVariant = 1;
  }
  void main(std::vector<TrainRecord> t) { fill(s().mainDepartures, s().mainDepartureCount, t); }
  void other(std::vector<TrainRecord> t) { fill(s().otherDepartures, s().otherDepartureCount, t); }
  void domestics(std::vector<DomesticRecord> t) {
    fill(s().domesticDepartures, s().domesticDepartureCount, t);
  }
  // A slideshow of one or two real pictures.
  void pictures(int count = 1) {
    std::vector<std::string> files = {resourcePath("pictures/vantrel-small.png"),
                                      resourcePath("pictures/vantrel-night.jpg")};
    files.resize(static_cast<std::size_t>(count));
    fill(s().pictureFiles, s().pictureCount, files);
  }
  TimetableStore& s() { return d().store; }
  template <typename Record>
  static void fill(std::vector<Record>& list, Int16& count, std::vector<Record> records) {
    count = static_cast<Int16>(records.size());
    list = std::move(records);
  }

  // Draws the board of a display type as a redraw on layout variant `variant`.
  RecordingSurface& board(Int16 displayType, Int16 variant = 1) {
    d().displayType = displayType;
    d().layoutVariant = variant;
    RecordingSurface& r = record();
    drawDepartureBoard(d(), false);
    return r;
  }
};

// The boxes drawn with a solid interior (the row bands), in drawing order.
inline std::vector<DrawOp> bands(const RecordingSurface& r) {
  std::vector<DrawOp> out;
  for (const DrawOp& op : r.ops(DrawOp::Kind::Box)) {
    if (op.fillStyle == FillStyle::Solid) out.push_back(op);
  }
  return out;
}

}  // namespace plasma::test
