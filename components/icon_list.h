// TIconList: an owned, streamable list of icons, the animation frames of a tray icon. An entry is
// an icon or empty (a null QIcon). Every change raises OnChange once, or once per batch.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace dovrik {

// A list index outside the valid range.
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// Bytes that are not a valid "Icons" stream or icon file, or an icon that can't be loaded.
class EIconError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A fixed surface: it keeps its given names.
// NOLINTBEGIN(readability-identifier-naming)
class TIconList {
 public:
  TIconList() = default;
  ~TIconList();
  TIconList(const TIconList&) = delete;
  TIconList& operator=(const TIconList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // The icon at index; a null QIcon for an empty entry. EListError outside 0..Count-1.
  QIcon Items(int index) const;
  // Writes index (0..Count; Count appends) with a copy of icon. EListError outside that range.
  void SetItems(int index, const QIcon& icon);
  int Add(const QIcon& icon);
  // Loads an icon from a file or Qt resource path; EIconError when nothing loads.
  int AddResource(const QString& name);
  void Insert(int index, const QIcon& icon);
  void InsertResource(int index, const QString& name);
  void Delete(int index);
  void Clear();
  void Exchange(int index1, int index2);
  void Move(int from, int to);
  // Index of an entry holding this very icon (same image data), or -1.
  int IndexOf(const QIcon& icon) const;

  void BeginUpdate();
  void EndUpdate();

  void Assign(const TIconList& source);
  void Assign(const QIcon& icon);
  void AssignNone() { Clear(); }

  // The "Icons" stream: stored only when there is at least one entry.
  bool ShouldStore() const { return !items_.empty(); }
  QByteArray WriteData() const;
  // Replaces the list with the stream's entries in one batch. Untrusted bytes: on any failure the
  // list is left empty and EIconError says what is wrong.
  void ReadData(const QByteArray& data);

  std::function<void(TIconList*)> OnChange;

 protected:
  virtual void Changed();

 private:
  void CheckIndex(int index, int limit) const;
  std::vector<QIcon> items_;
  int update_count_ = 0;
};
// NOLINTEND(readability-identifier-naming)

// An icon in the icon file format (PNG images, one per available size), and back. An empty icon
// writes no bytes; LoadIconFile throws EIconError for bytes that don't hold a loadable icon, or
// whose images have more pixels than *pixels_left (which they use up) when that is given.
QByteArray SaveIconFile(const QIcon& icon);
QIcon LoadIconFile(const QByteArray& data, std::int64_t* pixels_left = nullptr);

}  // namespace dovrik
