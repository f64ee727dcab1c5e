// Host spectrum library: the experiment's spectra in one SQLite store.
//
// Every routine reports through an integer status, 0 for success; after a
// failure serror gives a one-line text saying what failed and why.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace spectrum {

// A spectrum's identifier: the two 16-bit halves of its 31-bit store id
// (id1 the high half, id2 the low half).
struct Ident {
  std::int16_t id1 = 0;
  std::int16_t id2 = 0;
};

// The 31-bit store id of an identifier and back. The low half travels as a
// signed 16-bit value, so ids with bit 15 set give a negative id2.
std::int32_t ident_number(const Ident& id);
Ident ident_of(std::int32_t number);

// Statuses: one value per cause, so a caller can tell them apart without
// parsing the text.
inline constexpr int kNoExperiment = 101;    // store file missing or cannot be opened
inline constexpr int kNotStore = 102;        // not SQLite, or an SQLite file of another program
inline constexpr int kNewerStore = 103;      // written by a newer version of this library
inline constexpr int kNotConnected = 104;    // no sexpt (or a failed one) before the call
inline constexpr int kNoSuchName = 105;      // no spectrum of that name
inline constexpr int kNoSuchId = 106;        // no spectrum with that identifier
inline constexpr int kOutOfRange = 107;      // channels or rows outside the spectrum
inline constexpr int kBadElemSize = 108;     // element size other than 4
inline constexpr int kBadCount = 109;        // negative channel or row count
inline constexpr int kDamaged = 110;         // stored counts of the wrong length
inline constexpr int kDatabase = 111;        // SQLite failed (I/O, disk full, ...)
inline constexpr int kBusy = 112;            // another writer held the store too long
inline constexpr int kNameInUse = 113;       // the name belongs to another spectrum
inline constexpr int kBadName = 114;         // empty, too long or with control characters
inline constexpr int kBadGeometry = 115;     // size, rows or channel numbers out of bounds
inline constexpr int kTooLong = 116;         // a text longer than its field
inline constexpr int kNoCalibration = 117;   // no calibration of that number
inline constexpr int kBadCalNumber = 118;    // calibration number outside 1..kMaxCalNumber
inline constexpr int kBadCalibration = 119;  // calibration text or values not understood
inline constexpr int kExists = 120;          // creating a store over an existing file
inline constexpr int kReadOnly = 121;        // the store file cannot be written

// Field sizes.
inline constexpr int kErrorLen = 128;  // serror's text
inline constexpr int kNameLen = 256;   // spectrum names
inline constexpr int kTitleLen = 256;  // titles
inline constexpr int kLabelLen = 80;   // labels
inline constexpr int kCalLen = 256;    // calibration texts
inline constexpr int kMaxCalNumber = 32767;
// Largest number of counts (channels x rows) of one spectrum: a 4096 x 4096 matrix.
inline constexpr std::int64_t kMaxValues = std::int64_t{1} << 24;

// What the store holds about one spectrum besides its counts.
struct Summary {
  Ident id;
  std::string name;  // empty for a spectrum defined but never named
  std::string title;
  std::string label;
  int base = 0;
  int size = 0;
  int rowbase = 0;
  int rows = 0;
  int kind = 0;
  int smallest = 0;
  int largest = 0;
  std::int64_t total = 0;  // sum of all counts
  bool damaged = false;    // geometry or counts do not match their checksum
  // Seconds of measurement, as the source file gave them; empty when unknown.
  std::optional<double> live_time;
  std::optional<double> real_time;
};

// A whole spectrum to enter the store (see Host::store).
struct NewSpectrum {
  std::string name;
  std::string title;
  std::string label;
  int base = 0;
  int size = 0;
  int rowbase = 0;
  int rows = 0;
  int kind = 0;
  std::vector<std::int32_t> counts;       // size * max(rows, 1), row by row
  std::vector<std::string> calibrations;  // stored as calibrations 1, 2, ...
  std::optional<double> live_time;        // seconds, finite and not negative
  std::optional<double> real_time;
};

// One stored fit result: a line fitted in a spectrum by a recorded run.
struct FitRecord {
  std::int64_t id = 0;  // order of recording
  std::string spectrum;
  std::string energy;  // the line's energy as the run was given it
  std::string status;  // "ok" or why there is no result
  std::string result;  // the whole result row, a JSON object
  std::string command;
  std::string time;     // UTC, ISO 8601
  std::string version;  // of the program that fitted
};

class Store;  // the open database (host.cpp)

// One connection to the current experiment. The experiment is the file named
// by TAVRICK_EXPERIMENT, or experiment.db in the working directory.
//
// Texts passed in are taken to their significant length (trailing blanks and
// NULs dropped). Texts passed out are blank-padded to the room the caller gives.
class Host {
 public:
  Host();
  // A host bound to an explicit store file instead of the environment's.
  explicit Host(std::string path);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Connects to the experiment (an existing store; never creates a file).
  // The connection reads only; the first routine that writes reopens the
  // store for writing. A store of an older schema version is migrated
  // forward when it can be written, and read as it is otherwise.
  void sexpt(int& status);
  // Holds one read transaction until release, so that every read in between
  // sees the same committed version of the store (a fetch of a spectrum's
  // name, geometry and counts). Writes are refused while it is held.
  void snapshot(int& status);
  void release();
  // Looks a spectrum up by the first namelen characters of name.
  void sname(Ident& id, const char* name, int namelen, int& status);
  // Reads the title into title (room for titlelen characters, blank-padded);
  // titlelen receives the title's length.
  void srtit(const Ident& id, char* title, int& titlelen, int& status);
  // Geometry: first channel, channels, first row, rows (0 for 1-D), kind.
  void sinq(const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status);
  // Reads count channels from first (rows: firstrow and rowcount, 0 and 0 for
  // a 1-D read) into dest; elemsize must be 4.
  //
  // A row count of 0 reads one row: row firstrow of a 2-D spectrum, the only
  // row of a 1-D one. A row count n > 0 reads rows firstrow .. firstrow+n-1
  // (for a 1-D spectrum only its row, rowbase), count values per row, row by
  // row. dest receives count * max(rowcount, 1) values and nothing on failure.
  void sread(const Ident& id,
             int first,
             int count,
             int firstrow,
             int rowcount,
             std::int32_t* dest,
             int elemsize,
             int& status);
  // Writes counts, with the arguments of sread; one transaction.
  void swrite(const Ident& id,
              int first,
              int count,
              int firstrow,
              int rowcount,
              const std::int32_t* src,
              int elemsize,
              int& status);
  // Text (128 characters, blank-padded) and length of the last failure.
  void serror(char* text, int& len) const;

  // Defines a new spectrum (no name, empty title, all counts 0); id receives
  // its identifier. size 0 defines a header-only spectrum that carries a label.
  void sdef(Ident& id,
            int base,
            int size,
            int rowbase,
            int rows,
            int kind,
            const char* label,
            int labellen,
            int& status);
  void srmax(const Ident& id, int& smallest, int& largest, int& status);
  void swmax(const Ident& id, int smallest, int largest, int& status);
  // Names a spectrum; the name must not belong to another spectrum.
  void siden(const Ident& id, const char* name, int namelen, int& status);
  void swtit(const Ident& id, const char* title, int titlelen, int& status);
  // Label of 80 characters; only as many as the store holds are written.
  void srlab(const Ident& id, char* label, int labellen, int& status);
  // Calibration text (256 characters), plain or numbered. The plain one is
  // calibration number 1. On reading, len gives the room in text (at most
  // 256 used) and receives the text's length; the rest is blank-padded. Writing
  // an empty (all blank) text removes the calibration.
  void srcal(const Ident& id, char* text, int& len, int& status);
  void swcal(const Ident& id, const char* text, int len, int& status);
  void srcaln(const Ident& id, int number, char* text, int& len, int& status);
  void swcaln(const Ident& id, int number, const char* text, int len, int& status);

  // Whole-store operations for tavrick-store.

  // Creates a new empty store at path() and connects to it; refuses an
  // existing file (kExists) and leaves nothing behind on failure.
  void create(int& status);
  // Every spectrum, in id order.
  void list(std::vector<Summary>& out, int& status);
  void inquire(const Ident& id, Summary& out, int& status);
  // Calibrations as (number, text), in number order.
  void calibrations(const Ident& id, std::vector<std::pair<int, std::string>>& out, int& status);
  // Stores whole spectra in one transaction: all of them or, on any failure,
  // none. A name already in the store is refused (kNameInUse) unless replace,
  // in which case that spectrum is removed first. ids receives the new ids.
  void store(std::span<const NewSpectrum> spectra,
             bool replace,
             std::vector<Ident>& ids,
             int& status);
  // Deletes a spectrum with its calibrations.
  void remove(const Ident& id, int& status);
  // Verifies the whole store: SQLite's integrity check (its complaints go
  // to problems) and the checksum of every spectrum and calibration (the
  // damaged spectra's names, or "#id" for unnamed ones, go to damaged, in id
  // order). status is 0 when the check ran, whatever it found.
  void check(std::vector<std::string>& damaged, std::vector<std::string>& problems, int& status);
  // Appends fit results in one transaction: all of them or none.
  void record_fits(std::span<const FitRecord> fits, int& status);
  // Stored fit results of one spectrum (all when spectrum is empty), in the
  // order they were recorded.
  void fits(const std::string& spectrum, std::vector<FitRecord>& out, int& status);

  // The whole text of the last failure (serror gives its first 128 characters)
  // and its status.
  const std::string& error() const { return error_; }
  int last_status() const { return last_status_; }

  // The store file this host uses.
  const std::string& path() const { return path_; }

 private:
  void fail(int& status, int code, std::string text);
  bool connected(int& status);
  // Connected through a connection that may write (reopened for writing if
  // it was a reading one); otherwise fails with kReadOnly.
  bool writable(int& status);

  std::string path_;
  std::unique_ptr<Store> store_;
  std::string error_;
  int last_status_ = 0;
};

// Calibration text <-> numbers. The text is "POLY <unit> c0 c1 ...", the
// energy polynomial E = c0 + c1*ch + c2*ch^2 + ... with each coefficient in
// %.17g, and unit "-" standing for no unit. sdcal gives offset c0, gain c1
// (0 when the text has only c0), the unit and kind "POLY"; coefficients
// beyond c1 are not part of the four values. secal writes such a text of two
// coefficients into text (room for 256 characters, blank-padded); len
// receives its length. kind must be "POLY" or empty; the unit must not hold
// blanks.
void sdcal(const char* text,
           int len,
           double& offset,
           double& gain,
           std::string& unit,
           std::string& kind,
           int& status);
void secal(char* text,
           int& len,
           double offset,
           double gain,
           const std::string& unit,
           const std::string& kind,
           int& status);

// Ends the program after a failed library call: writes one line to standard
// output (the host's error text when status is the host's last failure,
// otherwise the status) and exits with status 8.
[[noreturn]] void exstop(const Host& host, int status);

}  // namespace spectrum
