#include "automation/run_status.h"

#include <algorithm>
#include <chrono>

#include "automation/plan_row.h"
#include "automation/plan_run.h"
#include "common/number_text.h"
#include "imaging/star_measure.h"
#include "imaging/viewer.h"
#include "operations/station_core.h"
#include "station/site_sky.h"

namespace noctarbel {

namespace {

// The outer radius of the half-flux diameter of an image's brightest star (as `measure` takes it).
constexpr int kHfdRadius = 100;

std::string TimeOfDay(DateTime ut) {
  const std::string text = FormatDateTime(ut);
  return text.size() > 11 ? text.substr(11) : text;
}

std::string RoofName(RoofState roof) {
  switch (roof) {
    case RoofState::Open:
      return "open";
    case RoofState::Closed:
      return "closed";
    default:
      return "unknown";
  }
}

std::string RainName(RainState rain) {
  switch (rain) {
    case RainState::Wet:
      return "wet";
    case RainState::Dry:
      return "dry";
    default:
      return "unknown";
  }
}

}  // namespace

const char* RunPhaseName(RunPhase phase) {
  switch (phase) {
    case RunPhase::Idle:
      return "idle";
    case RunPhase::Waiting:
      return "waiting";
    case RunPhase::Running:
      return "running";
    case RunPhase::Exposing:
      return "exposing";
    case RunPhase::Emergency:
      return "emergency";
    case RunPhase::Finished:
      return "finished";
  }
  return "idle";
}

std::string RunStatus::Text() const {
  const std::string row = "row " + std::to_string(Row) + (Object.empty() ? "" : " (" + Object + ")");
  switch (Phase) {
    case RunPhase::Idle:
      return "idle";
    case RunPhase::Waiting:
      return "waiting for " + row + " until " + TimeOfDay(WaitUntil) + " UT";
    case RunPhase::Running:
      return "running " + row;
    case RunPhase::Exposing:
      return "exposing image " + std::to_string(Image) + " of " + std::to_string(Images) +
             (Filter.empty() ? "" : " with filter " + Filter) + ", " + row;
    case RunPhase::Emergency:
      return "emergency: rain, " + Message;
    case RunPhase::Finished:
      return std::string("finished") + (Emergency ? " after the rain emergency" : Completed ? "" : " (stopped)");
  }
  return {};
}

void MeasureImageNote(const Timgbuffer& image, double arcsecX, double arcsecY, double rotationDeg, ImageNote& note) {
  const StarSearchResult star = FindBrightestStar(image);
  if (!star.Found) return;
  int column = star.X;
  int row = star.Y;
  const int r = kHfdRadius;
  StarCentroid(image, star.X - r + 1, star.X + r, star.Y - r + 1, star.Y + r, star.Minimum, column, row);
  const HfdReading hfd = ReadHalfFluxDiameter(image, column, row, r);
  // A saturated star still shows how the focus goes through the night: its diameter is
  // given, with the reason it reads large.
  const double diameter = hfd.Ok() ? hfd.Hfd : HalfFluxDiameter(image, column, row, r);
  if (diameter > 0) note.Hfd = diameter;
  note.HfdProblem = hfd.Problem;
  const int binning = std::max<int>(1, image.XBinning);
  note.Offset = OffsetOfStar(image.Width(), image.Height(), star.X, star.Y, binning * arcsecX, binning * arcsecY,
                             rotationDeg);
}

RunStatusBoard::RunStatusBoard(StationCore& core)
    : core_(core),
      mountTick_(core.OnMountTick),
      observatoryTick_(core.OnObservatoryTick),
      cameraTick_(core.OnCameraTick),
      refresh_(core.Clock, 1000) {
  auto mount = mountTick_;
  core_.OnMountTick = [this, mount](const MountTick& tick) {
    if (mount) mount(tick);
    std::lock_guard lock(mutex_);
    status_.Altitude.reset();
    status_.Azimuth.reset();
    status_.PierSide.clear();
    if (tick.Status) {
      const HorizontalPosition here =
          StationEquatorialToHorizontal(core_, tick.Status->RightAscension * 15.0, tick.Status->Declination);
      status_.Altitude = here.Altitude;
      status_.Azimuth = here.Azimuth;
      if (tick.Status->Side && *tick.Status->Side != PierSide::Unknown) {
        status_.PierSide = *tick.Status->Side == PierSide::East ? "east" : "west";
      }
    }
    Changed();
  };
  auto observatory = observatoryTick_;
  core_.OnObservatoryTick = [this, observatory](const ObservatoryTick& tick) {
    if (observatory) observatory(tick);
    std::lock_guard lock(mutex_);
    status_.Roof = RoofName(tick.Roof);
    status_.Rain = RainName(tick.Rain);
    Changed();
  };
  auto camera = cameraTick_;
  core_.OnCameraTick = [this, camera](const CameraTick& tick) {
    if (camera) camera(tick);
    std::lock_guard lock(mutex_);
    status_.CameraTemperature = tick.Temperature;
    Changed();
  };
  logToken_ = core_.Log.Subscribe([this](long index) { LogLine(index); });
  const auto& lines = core_.Log.Lines();
  for (std::size_t i = lines.size() > kLogTailLines ? lines.size() - kLogTailLines : 0; i < lines.size(); ++i) {
    log_.push_back(lines[i]);
  }
  refresh_.SetHandler([this] { Refresh(); });
  refresh_.Start();
  Refresh();
}

RunStatusBoard::~RunStatusBoard() {
  core_.Log.Unsubscribe(logToken_);
  core_.OnMountTick = mountTick_;
  core_.OnObservatoryTick = observatoryTick_;
  core_.OnCameraTick = cameraTick_;
}

void RunStatusBoard::Follow(RunEvents& events) {
  auto rowStarted = events.RowStarted;
  events.RowStarted = [this, rowStarted](int row, const std::string& object) {
    if (rowStarted) rowStarted(row, object);
    RowStarted(row, object);
  };
  auto imageStarted = events.ImageStarted;
  events.ImageStarted = [this, imageStarted](int image, int images, const std::string& filter) {
    if (imageStarted) imageStarted(image, images, filter);
    std::lock_guard lock(mutex_);
    status_.Phase = RunPhase::Exposing;
    status_.Image = image;
    status_.Images = images;
    status_.Filter = filter;
    Changed();
  };
  auto fileSaved = events.FileSaved;
  events.FileSaved = [this, fileSaved](const std::string& file, bool stack) {
    if (fileSaved) fileSaved(file, stack);
    if (stack) return;
    std::lock_guard lock(mutex_);
    status_.LastImage = file;
    ++status_.ImagesSaved;
    Changed();
  };
  auto imageDone = events.ImageDone;
  events.ImageDone = [this, imageDone](Timgbuffer& image, const std::string& object) {
    if (imageDone) imageDone(image, object);
    ImageDone(image, object);
  };
  auto rowEnded = events.RowEnded;
  events.RowEnded = [this, rowEnded](const RowSpan& span) {
    if (rowEnded) rowEnded(span);
    std::lock_guard lock(mutex_);
    timeline_.push_back(span);
    if (status_.Phase != RunPhase::Emergency) status_.Phase = RunPhase::Running;
    Changed();
  };
  std::lock_guard lock(mutex_);
  runActive_ = true;
  // A new run: what the watches read stays, what the last run did goes.
  RunStatus fresh;
  fresh.Phase = RunPhase::Running;
  fresh.Ut = status_.Ut;
  fresh.Roof = status_.Roof;
  fresh.Rain = status_.Rain;
  fresh.Altitude = status_.Altitude;
  fresh.Azimuth = status_.Azimuth;
  fresh.PierSide = status_.PierSide;
  fresh.CameraTemperature = status_.CameraTemperature;
  fresh.Message = status_.Message;
  status_ = fresh;
  timeline_.clear();
  images_.clear();
  jpeg_.clear();
  Changed();
}

void RunStatusBoard::RunEnded(bool completed) {
  std::lock_guard lock(mutex_);
  runActive_ = false;
  status_.Phase = RunPhase::Finished;
  status_.Completed = completed;
  status_.Ut = core_.Clock.UtcNow();
  Changed();
}

void RunStatusBoard::Refresh() {
  const DateTime now = core_.Clock.UtcNow();
  std::lock_guard lock(mutex_);
  status_.Ut = now;
  status_.Message = std::string(TrimBlanks(core_.Status()));
  if (status_.Message.rfind(": ", 0) == 0) status_.Message.erase(0, 2);
  if (runActive_ && status_.Phase == RunPhase::Waiting && now >= status_.WaitUntil) status_.Phase = RunPhase::Running;
  if (runActive_ && status_.Emergency) status_.Phase = RunPhase::Emergency;
  Changed();
}

void RunStatusBoard::RowStarted(int row, const std::string& object) {
  const DateTime now = core_.Clock.UtcNow();
  const auto start = ParseStartTime(CellsOfRow(core_.Planer1, row));
  std::lock_guard lock(mutex_);
  status_.Row = row;
  status_.Object = object;
  status_.Image = status_.Images = 0;
  status_.Filter.clear();
  status_.Phase = RunPhase::Running;
  if (start && DaysUntil(*start, now) > 0) {
    status_.Phase = RunPhase::Waiting;
    status_.WaitUntil = now + DaysUntil(*start, now);
  }
  if (status_.Emergency) status_.Phase = RunPhase::Emergency;
  Changed();
}

void RunStatusBoard::ImageDone(Timgbuffer& image, const std::string& object) {
  ImageNote note;
  note.Ut = core_.Clock.UtcNow();
  note.Object = object;
  const SettingsRecord& s = core_.Settings;
  MeasureImageNote(image, s.ArcsecX, s.ArcsecY, s.CameraRotation, note);
  {
    std::lock_guard lock(mutex_);
    note.File = status_.LastImage;
    note.Row = status_.Row;
    note.Filter = status_.Filter;
  }
  // The picture is made outside the lock: the page's readers are not held up by it.
  ImageViewer viewer;
  viewer.ShowPlanFrame(image, object);
  viewer.Render(ViewerLook{});
  std::vector<std::uint8_t> jpeg;
  const bool pictured =
      viewer.WebMonitorJpeg(FormatDateTime(note.Ut) + " UT  " + object + "  " + note.Filter, jpeg, nullptr);
  std::lock_guard lock(mutex_);
  if (pictured) jpeg_ = std::move(jpeg);
  status_.LastHfd = note.Hfd;
  status_.LastOffset = note.Offset;
  images_.push_back(std::move(note));
  Changed();
}

void RunStatusBoard::LogLine(long index) {
  std::lock_guard lock(mutex_);
  if (index < 0) {
    log_.clear();
    const auto& lines = core_.Log.Lines();
    for (std::size_t i = lines.size() > kLogTailLines ? lines.size() - kLogTailLines : 0; i < lines.size(); ++i) {
      log_.push_back(lines[i]);
    }
  } else {
    const std::string& line = core_.Log.Lines()[static_cast<std::size_t>(index)];
    log_.push_back(line);
    while (log_.size() > kLogTailLines) log_.pop_front();
    // The rain emergency is the station's own: rain alone while the roof is shut is none.
    if (runActive_ && line.find("Emergency!") != std::string::npos) {
      status_.Emergency = true;
      status_.Phase = RunPhase::Emergency;
    }
  }
  Changed();
}

void RunStatusBoard::Changed() {
  ++version_;
  changed_.notify_all();
}

RunStatus RunStatusBoard::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::vector<std::string> RunStatusBoard::LogTail() const {
  std::lock_guard lock(mutex_);
  return {log_.begin(), log_.end()};
}

std::vector<std::uint8_t> RunStatusBoard::LatestJpeg() const {
  std::lock_guard lock(mutex_);
  return jpeg_;
}

std::vector<RowSpan> RunStatusBoard::Timeline() const {
  std::lock_guard lock(mutex_);
  return timeline_;
}

std::vector<ImageNote> RunStatusBoard::Images() const {
  std::lock_guard lock(mutex_);
  return images_;
}

long RunStatusBoard::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

long RunStatusBoard::WaitForChange(long seen, int ms) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return version_ != seen; });
  return version_;
}

}  // namespace noctarbel
