// Channel-by-channel access to spectra of the store through up to three
// buffered streams.
//
// Each stream keeps a block of up to 256 consecutive channels (of one row), so
// the library is called only when an access leaves the block or a written
// stream is closed. Every entry returns a status, 0 for success. An access to
// a channel or row outside the spectrum returns notopn; every other error ends
// the program through the library's exstop.
#pragma once

#include <array>
#include <cstdint>

#include "spectrum/host.h"

namespace spectrum {

// Statuses of the access layer.
inline constexpr int badstr = 1123072;  // stream number outside 1 to 3
inline constexpr int isopn = 1188608;   // open on a stream that is already open
inline constexpr int notopn = 1254144;  // stream not open, or channel or row outside the spectrum

inline constexpr int kStreams = 3;
inline constexpr int kBlock = 256;

// The library calls the access layer makes, with the arguments of Host's.
class ChannelLibrary {
 public:
  virtual ~ChannelLibrary() = default;
  virtual void sinq(
      const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status) = 0;
  virtual void sread(const Ident& id,
                     int first,
                     int count,
                     int firstrow,
                     int rowcount,
                     std::int32_t* dest,
                     int elemsize,
                     int& status) = 0;
  virtual void swrite(const Ident& id,
                      int first,
                      int count,
                      int firstrow,
                      int rowcount,
                      const std::int32_t* src,
                      int elemsize,
                      int& status) = 0;
  virtual void sdef(Ident& id,
                    int base,
                    int size,
                    int rowbase,
                    int rows,
                    int kind,
                    const char* label,
                    int labellen,
                    int& status) = 0;
  virtual void srmax(const Ident& id, int& smallest, int& largest, int& status) = 0;
  virtual void swmax(const Ident& id, int smallest, int largest, int& status) = 0;
  // Ends the program after a failed call.
  [[noreturn]] virtual void exstop(int status) = 0;
};

// The host spectrum library itself.
class HostLibrary final : public ChannelLibrary {
 public:
  explicit HostLibrary(Host& host) : host_(host) {}
  void sinq(const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status)
      override;
  void sread(const Ident& id,
             int first,
             int count,
             int firstrow,
             int rowcount,
             std::int32_t* dest,
             int elemsize,
             int& status) override;
  void swrite(const Ident& id,
              int first,
              int count,
              int firstrow,
              int rowcount,
              const std::int32_t* src,
              int elemsize,
              int& status) override;
  void sdef(Ident& id,
            int base,
            int size,
            int rowbase,
            int rows,
            int kind,
            const char* label,
            int labellen,
            int& status) override;
  void srmax(const Ident& id, int& smallest, int& largest, int& status) override;
  void swmax(const Ident& id, int smallest, int largest, int& status) override;
  [[noreturn]] void exstop(int status) override;

 private:
  Host& host_;
};

// The three streams and their buffers. Identifier halves travel as two
// integers: id1 the first 16-bit half, id2 the second.
class Access {
 public:
  explicit Access(ChannelLibrary& lib) : lib_(lib) {}

  // Opens a spectrum for reading: geometry from sinq, extreme counts from srmax.
  int opnspr(int stream, int id1, int id2);
  // Closes a read stream; an unwritten block of a write stream is dropped.
  int clsspr(int stream);
  int igtchn(int stream, int channel, std::int32_t& value);
  // Geometry and extreme counts; row base and rows are 0 for a 1-D spectrum.
  int infsp(int stream, int& base, int& size, int& smallest, int& largest, int& rowbase, int& rows);
  int presp(int stream, float& kind);
  // Define a spectrum (no name, counts 0); the new identifier comes back in
  // id1 and id2. kind, label and labellen go to sdef as they are.
  int newsp(int& id1, int& id2, int base, int size, int kind, const char* label, int labellen);
  int newsp2(int& id1,
             int& id2,
             int base,
             int size,
             int rowbase,
             int rows,
             int kind,
             const char* label,
             int labellen);
  // Opens a defined spectrum for writing. Its geometry comes from sinq, so
  // range tests and block sizes follow the spectrum as the store defines it.
  int opnspw(int stream, int id1, int id2);
  int iptchn(int stream, int channel, std::int32_t value);
  // Writes the pending block and the extreme counts; 0 even for a closed or
  // invalid stream.
  int clsspw(int stream);
  int igtpnt(int stream, int channel, int row, std::int32_t& value);
  int iptpnt(int stream, int channel, int row, std::int32_t value);

 private:
  struct Stream {
    int state = 0;  // 0 closed, 1 open, 2 open with a block buffered
    Ident id;
    int base = 0;
    int size = 0;
    int rowbase = 0;
    int rows = 0;
    int kind = 0;
    std::array<std::int32_t, kBlock> buf{};
    int first = 0;  // the buffered block: channels first .. first + count - 1
    int count = 0;
    int firstrow = 0;
    int rowcount = 0;
    int smallest = 0;
    int largest = 0;
  };

  // The stream for an entry that needs an open one; exstop otherwise.
  Stream& open_stream(int stream);
  // The stream for an open entry, which must be closed; exstop otherwise.
  Stream& closed_stream(int stream);
  // Starts an empty block of the row at channel.
  static void start_block(Stream& s, int channel, int firstrow, int rowcount);
  void load(Stream& s, int channel, int firstrow, int rowcount);
  void flush(Stream& s, int firstrow, int rowcount);
  static void store(Stream& s, int channel, std::int32_t value);
  void check(int status);

  ChannelLibrary& lib_;
  std::array<Stream, kStreams> streams_{};
};

// Placeholder entries of the interface: no action, status 0.
int xaif1();
int xaif11();

}  // namespace spectrum
