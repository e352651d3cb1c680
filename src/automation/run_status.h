#pragma once
// What the station is doing now, for whoever watches from elsewhere: a plain value made from
// the run's events and the watches' readings (RunStatus), and the board that keeps it up to
// date on the station's thread and hands copies to any other thread (the status page's).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/runtime.h"
#include "guiding/star_offset.h"
#include "station/run_state.h"

namespace noctarbel {

class StationCore;
class Timgbuffer;
struct RunEvents;
struct MountTick;
struct ObservatoryTick;
struct CameraTick;

enum class RunPhase { Idle, Waiting, Running, Exposing, Emergency, Finished };
const char* RunPhaseName(RunPhase phase);

struct RunStatus {
  RunPhase Phase = RunPhase::Idle;
  DateTime Ut = 0;
  int Row = 0;  // 0: none yet
  std::string Object;
  DateTime WaitUntil = 0;  // UT the row waits for (Waiting)
  int Image = 0;           // 1-based, of Images (Exposing)
  int Images = 0;
  std::string Filter;
  std::string Roof = "unknown";  // open, closed, unknown
  std::string Rain = "unknown";  // dry, wet, unknown
  std::optional<double> Altitude;  // the mount's, degrees
  std::optional<double> Azimuth;
  std::string PierSide;  // east, west, or empty
  std::optional<double> CameraTemperature;
  std::optional<double> LastHfd;  // pixels, of the last image's brightest star
  std::optional<StarOffset> LastOffset;
  std::string LastImage;  // the file last saved
  int ImagesSaved = 0;
  bool Completed = false;  // Finished: the rows ran to their end
  bool Emergency = false;  // the rain emergency came during this run
  std::string Message;     // the station's status line

  // "waiting for row 3 until 21:30:00 UT", "exposing image 2 of 5 with filter R", ...
  std::string Text() const;
};

// One image of the night as the status page and the report show it.
struct ImageNote {
  std::string File;
  DateTime Ut = 0;
  int Row = 0;
  std::string Object;
  std::string Filter;
  std::optional<double> Hfd;
  std::string HfdProblem;  // "saturated": the diameter reads large
  std::optional<StarOffset> Offset;
};

// The brightest star's half-flux diameter and offset from the centre (arc seconds with the
// image scale given); left empty without a star.
void MeasureImageNote(const Timgbuffer& image, double arcsecX, double arcsecY, double rotationDeg, ImageNote& note);

class RunStatusBoard {
 public:
  // Follows the station's watches and log from now on (keeping the handlers already set).
  explicit RunStatusBoard(StationCore& core);
  ~RunStatusBoard();
  RunStatusBoard(const RunStatusBoard&) = delete;
  RunStatusBoard& operator=(const RunStatusBoard&) = delete;

  // Follows a run: its events are wrapped (those set keep being called). Call before it starts.
  void Follow(RunEvents& events);
  // The run is over.
  void RunEnded(bool completed);
  // Reads the clock, the station's status and emergency again (a timer calls it).
  void Refresh();

  // Copies, from any thread.
  RunStatus Status() const;
  std::vector<std::string> LogTail() const;
  std::vector<std::uint8_t> LatestJpeg() const;
  std::vector<RowSpan> Timeline() const;
  std::vector<ImageNote> Images() const;
  long Version() const;
  // Waits until the version is past `seen` or `ms` pass; the version then.
  long WaitForChange(long seen, int ms) const;

  static constexpr std::size_t kLogTailLines = 50;

 private:
  void Changed();  // under the lock
  void RowStarted(int row, const std::string& object);
  void ImageDone(Timgbuffer& image, const std::string& object);
  void LogLine(long index);

  StationCore& core_;
  int logToken_ = 0;
  std::function<void(const MountTick&)> mountTick_;
  std::function<void(const ObservatoryTick&)> observatoryTick_;
  std::function<void(const CameraTick&)> cameraTick_;
  Timer refresh_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  RunStatus status_;
  std::deque<std::string> log_;
  std::vector<std::uint8_t> jpeg_;
  std::vector<RowSpan> timeline_;
  std::vector<ImageNote> images_;
  long version_ = 0;
  bool runActive_ = false;
  bool rain_ = false;
};

}  // namespace noctarbel
