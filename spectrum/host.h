// Host spectrum library: the experiment's spectra in one SQLite store.
//
// Every routine reports through an integer status, 0 for success; after a
// failure serror gives a one-line text saying what failed and why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace spectrum {

// A spectrum's identifier: the two 16-bit halves of its 31-bit store id
// (id1 the high half, id2 the low half).
struct Ident {
  std::int16_t id1 = 0;
  std::int16_t id2 = 0;
};

class Store;  // the open database (host.cpp)

// One connection to the current experiment. The experiment is the file named
// by TAVRICK_EXPERIMENT, or experiment.db in the working directory.
class Host {
 public:
  Host();
  // A host bound to an explicit store file instead of the environment's.
  explicit Host(std::string path);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Connects to the experiment (an existing store; never creates a file).
  void sexpt(int& status);
  // Looks a spectrum up by the first namelen characters of name.
  void sname(Ident& id, const char* name, int namelen, int& status);
  // Reads the title into title (room for titlelen characters, blank-padded);
  // titlelen receives the title's length.
  void srtit(const Ident& id, char* title, int& titlelen, int& status);
  // Geometry: first channel, channels, first row, rows (0 for 1-D), kind.
  void sinq(const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status);
  // Reads count channels from first (rows: firstrow and rowcount, 0 and 0 for
  // a 1-D read) into dest; elemsize must be 4.
  void sread(const Ident& id, int first, int count, int firstrow, int rowcount, std::int32_t* dest,
             int elemsize, int& status);
  void swrite(const Ident& id, int first, int count, int firstrow, int rowcount,
              const std::int32_t* src, int elemsize, int& status);
  // Text (128 characters, blank-padded) and length of the last failure.
  void serror(char* text, int& len) const;

  // Defines a new spectrum; id receives its identifier.
  void sdef(Ident& id, int base, int size, int rowbase, int rows, int kind, const char* label,
            int labellen, int& status);
  void srmax(const Ident& id, int& smallest, int& largest, int& status);
  void swmax(const Ident& id, int smallest, int largest, int& status);
  void siden(const Ident& id, const char* name, int namelen, int& status);
  void swtit(const Ident& id, const char* title, int titlelen, int& status);
  // Label of 80 characters; only as many as the store holds are written.
  void srlab(const Ident& id, char* label, int labellen, int& status);
  // Calibration text (256 characters), plain or numbered.
  void srcal(const Ident& id, char* text, int& len, int& status);
  void swcal(const Ident& id, const char* text, int len, int& status);
  void srcaln(const Ident& id, int number, char* text, int& len, int& status);
  void swcaln(const Ident& id, int number, const char* text, int len, int& status);

  // The store file this host uses.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<Store> store_;
  std::string error_;
};

// Calibration text <-> numbers.
void sdcal(const char* text, int len, double& offset, double& gain, std::string& unit,
           std::string& kind, int& status);
void secal(char* text, int& len, double offset, double gain, const std::string& unit,
           const std::string& kind, int& status);

// Ends the program after a failed library call, with the host's error text.
[[noreturn]] void exstop(const Host& host, int status);

}  // namespace spectrum
