#include "components/icon_list.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <algorithm>
#include <span>

#include "components/icons_stream.h"

namespace dovrik {
namespace {

std::span<const std::uint8_t> AsBytes(const QByteArray& a) {
  return {reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size())};
}

QByteArray ToQByteArray(const icons_stream::Bytes& b) {
  return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

// Decodes one image with a bounded allocation, so a crafted payload can't ask for a huge buffer.
QImage DecodeImage(const QByteArray& bytes, const char* format) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setAllocationLimit(16);  // MB; a 1024 x 1024 icon needs 4
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > icons_stream::kMaxIconSide ||
      size.height() > icons_stream::kMaxIconSide) {
    return {};
  }
  return reader.read();
}

// All images of one "Icons" stream together, decoded: 64 MB of 32-bit pixels. A plain image
// compresses about a thousandfold, so without a bound a small stream could ask for gigabytes.
constexpr std::int64_t kMaxStreamPixels = 16 * 1024 * 1024;

void SpendPixels(std::int64_t* pixels_left, std::int64_t pixels) {
  if (pixels_left == nullptr) return;
  if (pixels > *pixels_left) {
    throw EIconError("icon: the images exceed " + std::to_string(kMaxStreamPixels) +
                     " pixels in all");
  }
  *pixels_left -= pixels;
}

}  // namespace

TIconList::~TIconList() {
  OnChange = nullptr;  // no notification while the list goes
  items_.clear();
}

void TIconList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
}

QIcon TIconList::Items(int index) const {
  CheckIndex(index, Count());
  return items_[static_cast<std::size_t>(index)];
}

void TIconList::SetItems(int index, const QIcon& icon) {
  CheckIndex(index, Count() + 1);
  BeginUpdate();
  if (index == Count()) items_.emplace_back();
  items_[static_cast<std::size_t>(index)] = icon;
  Changed();
  EndUpdate();
}

int TIconList::Add(const QIcon& icon) {
  items_.push_back(icon);
  Changed();
  return Count() - 1;
}

namespace {
QIcon LoadResourceIcon(const QString& name) {
  QPixmap pixmap;
  if (!pixmap.load(name)) throw EIconError("Cannot load icon " + name.toStdString());
  return QIcon(pixmap);
}
}  // namespace

int TIconList::AddResource(const QString& name) {
  return Add(LoadResourceIcon(name));
}

void TIconList::Insert(int index, const QIcon& icon) {
  CheckIndex(index, Count() + 1);
  items_.insert(items_.begin() + index, icon);
  Changed();
}

void TIconList::InsertResource(int index, const QString& name) {
  Insert(index, LoadResourceIcon(name));
}

void TIconList::Delete(int index) {
  CheckIndex(index, Count());
  items_.erase(items_.begin() + index);
  Changed();
}

void TIconList::Clear() {
  BeginUpdate();
  for (int i = Count() - 1; i >= 0; --i) Delete(i);
  EndUpdate();
}

void TIconList::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
  Changed();
}

void TIconList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from, Count());
  CheckIndex(to, Count());
  QIcon icon = std::move(items_[static_cast<std::size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(icon));
  Changed();
}

int TIconList::IndexOf(const QIcon& icon) const {
  if (icon.isNull()) return -1;
  for (int i = 0; i < Count(); ++i) {
    const QIcon& item = items_[static_cast<std::size_t>(i)];
    if (!item.isNull() && item.cacheKey() == icon.cacheKey()) return i;
  }
  return -1;
}

void TIconList::BeginUpdate() {
  ++update_count_;
}

void TIconList::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

void TIconList::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

void TIconList::Assign(const TIconList& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  for (const QIcon& icon : source.items_) Add(icon);
  EndUpdate();
}

void TIconList::Assign(const QIcon& icon) {
  BeginUpdate();
  Clear();
  Add(icon);
  EndUpdate();
}

QByteArray TIconList::WriteData() const {
  std::vector<icons_stream::Bytes> entries;
  entries.reserve(items_.size());
  for (const QIcon& icon : items_) {
    const QByteArray file = SaveIconFile(icon);
    entries.emplace_back(file.begin(), file.end());
  }
  return ToQByteArray(icons_stream::BuildStream(entries));
}

void TIconList::ReadData(const QByteArray& data) {
  // Parse and load everything first: a failure then leaves an empty list, never half of one.
  std::vector<QIcon> icons;
  std::string error;
  std::int64_t pixels_left = kMaxStreamPixels;
  const icons_stream::StreamParse parsed = icons_stream::ParseStream(AsBytes(data));
  if (!parsed.ok()) {
    error = parsed.error;
  } else {
    icons.reserve(parsed.entries.size());
    for (const icons_stream::Bytes& entry : parsed.entries) {
      if (entry.empty()) {
        icons.emplace_back();
        continue;
      }
      try {
        icons.push_back(LoadIconFile(ToQByteArray(entry), &pixels_left));
      } catch (const EIconError& e) {
        error = std::string("Icons: entry ") + std::to_string(icons.size() + 1) + ": " + e.what();
        break;
      }
    }
  }
  BeginUpdate();
  Clear();
  if (error.empty()) {
    for (QIcon& icon : icons) items_.push_back(std::move(icon));
    Changed();
  }
  EndUpdate();
  if (!error.empty()) throw EIconError(error);
}

QByteArray SaveIconFile(const QIcon& icon) {
  if (icon.isNull()) return {};
  QList<QSize> sizes = icon.availableSizes();
  if (sizes.isEmpty()) sizes.append(QSize(32, 32));  // a scalable engine: pick the usual tray size
  std::vector<icons_stream::PngImage> images;
  for (const QSize& size : sizes) {
    const QImage image = icon.pixmap(size).toImage();
    if (image.isNull()) continue;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) continue;
    images.push_back({image.width(), image.height(), icons_stream::Bytes(png.begin(), png.end())});
  }
  if (images.empty()) return {};
  return ToQByteArray(icons_stream::BuildIco(images));
}

QIcon LoadIconFile(const QByteArray& data, std::int64_t* pixels_left) {
  const icons_stream::IcoParse parsed = icons_stream::ParseIco(AsBytes(data));
  if (!parsed.ok()) throw EIconError(parsed.error);
  QIcon icon;
  const bool all_png = std::all_of(parsed.images.begin(), parsed.images.end(),
                                   [](const icons_stream::IcoImage& i) { return i.png; });
  if (all_png) {
    for (const icons_stream::IcoImage& image : parsed.images) {
      SpendPixels(pixels_left, std::int64_t{image.width} * image.height);  // known from the header
      const QImage decoded = DecodeImage(ToQByteArray(image.data), "PNG");
      if (decoded.isNull()) throw EIconError("icon: an image can't be decoded");
      icon.addPixmap(QPixmap::fromImage(decoded));
    }
    return icon;
  }
  // Classic bitmap images, whose directory was checked above: the image plugin decodes the file,
  // still under the allocation bound.
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "ICO");
  reader.setAllocationLimit(16);
  for (std::size_t i = 0; i < parsed.images.size(); ++i) {
    const QImage decoded = reader.read();
    if (decoded.isNull()) throw EIconError("icon: an image can't be decoded");
    SpendPixels(pixels_left, std::int64_t{decoded.width()} * decoded.height());
    icon.addPixmap(QPixmap::fromImage(decoded));
    if (!reader.jumpToNextImage()) break;
  }
  return icon;
}

}  // namespace dovrik
