#include "BenchCorpus.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "LzsEncoder.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::bench {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = format::kBlockSize;

// Regular files under `roots` whose names pass `wanted`, in sorted order.
std::vector<fs::path> ListFiles(const std::vector<fs::path>& roots, bool (*wanted)(const fs::path&), bool recurse) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const fs::path& root : roots) {
    if (!fs::is_directory(root, ec)) continue;
    const auto add = [&](const fs::directory_entry& entry) {
      if (entry.is_regular_file(ec) && !entry.is_symlink(ec) && wanted(entry.path())) files.push_back(entry.path());
    };
    if (recurse) {
      for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
           !ec && it != end; it.increment(ec)) {
        add(*it);
      }
    } else {
      for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) add(*it);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Up to `limit` bytes from the start of each file in turn, until `bytes` holds `want`.
void Gather(const std::vector<fs::path>& files, std::size_t limit, std::size_t want, Bytes& bytes) {
  for (const fs::path& path : files) {
    if (bytes.size() >= want) return;
    std::ifstream in(path, std::ios::binary);
    Bytes chunk(std::min(limit, want - bytes.size()));
    in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<std::size_t>(in.gcount()));
    bytes.insert(bytes.end(), chunk.begin(), chunk.end());
  }
}

bool IsTextName(const fs::path& path) {
  const std::string ext = path.extension().string();
  return ext != ".gz" && ext != ".xz" && ext != ".bz2" && ext != ".png" && ext != ".jpg" && ext != ".gif";
}
bool IsSharedLibraryName(const fs::path& path) { return path.filename().string().find(".so") != std::string::npos; }

// Stand-ins when the machine has too little of its own.
void GenerateText(std::mt19937& rng, std::size_t want, Bytes& bytes) {
  static const char* const kWords[] = {"the ",  "volume ", "of ",   "and ", "a ",     "file ",  "to ",  "in ",
                                       "is ",   "data ",   "with ", "for ", "this ",  "from ",  "copy ", "License ",
                                       "\n",    "Software ", "may ", "be ",  "under ", "terms ", "or ",  "any "};
  while (bytes.size() < want) {
    const char* word = kWords[rng() % std::size(kWords)];
    bytes.insert(bytes.end(), word, word + std::strlen(word));
  }
}
void GenerateBinary(std::mt19937& rng, std::size_t want, Bytes& bytes) {
  // Instruction-like records: a few opcodes, small immediates, addresses.
  while (bytes.size() < want) {
    const auto op = static_cast<std::uint32_t>(rng());
    bytes.push_back(static_cast<std::uint8_t>(0x48 + (op & 1)));
    bytes.push_back(static_cast<std::uint8_t>(0x89 + ((op >> 1) & 3)));
    bytes.push_back(static_cast<std::uint8_t>(op >> 8));
    if (op & 0x10000) {
      for (int i = 0; i < 4; ++i) bytes.push_back(i < 2 ? static_cast<std::uint8_t>(rng() & 0x1F) : 0);
    }
  }
}

std::string g_sourceNote;

Bytes TextBytes(std::size_t want, std::mt19937& rng) {
  Bytes bytes;
  Gather(ListFiles({"/usr/share/common-licenses"}, IsTextName, false), 256 * 1024, want, bytes);
  Gather(ListFiles({"/usr/share/doc"}, IsTextName, true), 64 * 1024, want, bytes);
  g_sourceNote += "text: " + std::to_string(bytes.size()) + " bytes from /usr/share";
  if (bytes.size() < want) {
    g_sourceNote += " + generated";
    GenerateText(rng, want, bytes);
  }
  bytes.resize(want);
  return bytes;
}

Bytes BinaryBytes(std::size_t want, std::mt19937& rng) {
  Bytes bytes;
  Gather(ListFiles({"/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib"}, IsSharedLibraryName, false), 128 * 1024,
         want, bytes);
  g_sourceNote += "; binary: " + std::to_string(bytes.size()) + " bytes of shared libraries";
  if (bytes.size() < want) {
    g_sourceNote += " + generated";
    GenerateBinary(rng, want, bytes);
  }
  bytes.resize(want);
  return bytes;
}

CorpusBlock MakeBlock(BlockKind kind, const std::uint8_t* plain) {
  CorpusBlock block;
  block.kind = kind;
  block.plain.assign(plain, plain + kBlock);
  block.stream = mkdisc::LzsCompress(block.plain);
  return block;
}

}  // namespace

const char* KindName(BlockKind kind) {
  switch (kind) {
    case BlockKind::kText: return "text";
    case BlockKind::kBinary: return "binary";
    case BlockKind::kZeros: return "zeros";
    case BlockKind::kRandom: return "random";
  }
  return "?";
}

const std::vector<CorpusBlock>& Corpus(std::size_t perKind) {
  static const std::vector<CorpusBlock> corpus = [perKind] {
    std::mt19937 rng(20240501);
    const Bytes text = TextBytes(perKind * kBlock, rng);
    const Bytes binary = BinaryBytes(perKind * kBlock, rng);
    Bytes random(perKind * kBlock);
    for (auto& b : random) b = static_cast<std::uint8_t>(rng());
    const Bytes zeros(kBlock, 0);
    std::vector<CorpusBlock> blocks;
    for (std::size_t i = 0; i < perKind; ++i) {
      blocks.push_back(MakeBlock(BlockKind::kText, text.data() + i * kBlock));
      blocks.push_back(MakeBlock(BlockKind::kBinary, binary.data() + i * kBlock));
      blocks.push_back(MakeBlock(BlockKind::kZeros, zeros.data()));
      blocks.push_back(MakeBlock(BlockKind::kRandom, random.data() + i * kBlock));
    }
    return blocks;
  }();
  return corpus;
}

const std::string& CorpusSourceNote() { return g_sourceNote; }

namespace {

constexpr std::size_t kNodeSize = 512;
constexpr std::size_t kNodeDescriptorSize = 14;
constexpr std::uint8_t kLeafNode = 0xFF;
constexpr std::uint8_t kHeaderNode = 1;
constexpr std::uint32_t kRootParentId = 1;
constexpr std::uint32_t kRootId = 2;
constexpr std::uint32_t kFirstFreeId = 16;

// A catalogue record: key (length, reserved, parent ID, name), the data on
// an even offset, the whole padded to an even length.
Bytes Record(std::uint32_t parentId, const std::string& name, const Bytes& data) {
  const auto keyLength = static_cast<std::uint8_t>(6 + name.size());
  Bytes record(1 + keyLength + (keyLength % 2 == 0 ? 1 : 0), 0);
  record[0] = keyLength;
  PutBe32(&record[2], parentId);
  record[6] = static_cast<std::uint8_t>(name.size());
  std::memcpy(&record[7], name.data(), name.size());
  record.insert(record.end(), data.begin(), data.end());
  if (record.size() % 2 != 0) record.push_back(0);
  return record;
}

Bytes DirectoryData(std::uint32_t dirId) {
  Bytes data(70, 0);
  data[0] = 1;
  PutBe32(&data[6], dirId);
  return data;
}

Bytes ThreadData(std::uint32_t parentId, const std::string& name) {
  Bytes data(46, 0);
  data[0] = 3;
  PutBe32(&data[10], parentId);
  data[14] = static_cast<std::uint8_t>(name.size());
  std::memcpy(&data[15], name.data(), name.size());
  return data;
}

Bytes FileData(std::uint32_t fileId, std::uint32_t startBlock, std::uint32_t length) {
  Bytes data(102, 0);
  data[0] = 2;
  std::memcpy(&data[4], "TEXTttxt", 8);
  PutBe32(&data[20], fileId);
  PutBe16(&data[24], startBlock);
  PutBe32(&data[26], length);
  PutBe32(&data[30], (length + 511) / 512 * 512);
  PutBe16(&data[74], startBlock);
  PutBe16(&data[76], (length + 511) / 512);
  return data;
}

// Fills leaf nodes one record after another and appends each full node.
class LeafWriter {
 public:
  explicit LeafWriter(Bytes& image) : m_image(image) { Start(); }
  void Add(const Bytes& record) {
    if (m_free + record.size() + 2 * (m_count + 2) > kNodeSize) {
      Finish();
      Start();
    }
    std::memcpy(&m_node[m_free], record.data(), record.size());
    PutBe16(&m_node[kNodeSize - 2 - 2 * m_count], static_cast<std::uint32_t>(m_free));
    m_free += record.size();
    ++m_count;
    PutBe16(&m_node[kNodeSize - 2 - 2 * m_count], static_cast<std::uint32_t>(m_free));  // free space
  }
  void Finish() {
    if (m_count == 0) return;
    PutBe16(&m_node[10], static_cast<std::uint32_t>(m_count));
    m_image.insert(m_image.end(), m_node.begin(), m_node.end());
  }

 private:
  void Start() {
    m_node.assign(kNodeSize, 0);
    m_node[8] = kLeafNode;
    m_node[9] = 1;
    m_free = kNodeDescriptorSize;
    m_count = 0;
  }
  Bytes& m_image;
  Bytes m_node;
  std::size_t m_free = 0;
  std::size_t m_count = 0;
};

}  // namespace

std::vector<std::uint8_t> MakeCatalogImage(const CatalogShape& shape, std::size_t& folders, std::size_t& files) {
  Bytes image(format::kCatalogScanOffset, 0);
  image[format::kMdbOffset] = 'B';
  image[format::kMdbOffset + 1] = 'D';
  PutBe32(&image[format::kMdbOffset + format::kMdbAllocBlockSizeOffset], 512);
  Bytes header(kNodeSize, 0);
  header[8] = kHeaderNode;
  image.insert(image.end(), header.begin(), header.end());

  LeafWriter leaves(image);
  std::uint32_t nextId = kFirstFreeId;
  std::uint32_t nextBlock = 0;
  folders = 0;
  files = 0;
  const auto addFiles = [&](std::uint32_t folderId) {
    for (std::size_t f = 0; f < shape.filesPerFolder; ++f) {
      const std::uint32_t length = 1000 + 37 * static_cast<std::uint32_t>(f);
      leaves.Add(Record(folderId, "Document " + std::to_string(f + 1), FileData(nextId++, nextBlock, length)));
      nextBlock += (length + 511) / 512;
      ++files;
    }
  };
  const std::string volumeName = "Bench Volume";
  leaves.Add(Record(kRootParentId, volumeName, DirectoryData(kRootId)));
  leaves.Add(Record(kRootId, "", ThreadData(kRootParentId, volumeName)));
  for (std::size_t t = 0; t < shape.topFolders; ++t) {
    const std::string topName = "Folder " + std::to_string(t + 1);
    const std::uint32_t topId = nextId++;
    leaves.Add(Record(kRootId, topName, DirectoryData(topId)));
    leaves.Add(Record(topId, "", ThreadData(kRootId, topName)));
    ++folders;
    addFiles(topId);
    for (std::size_t s = 0; s < shape.subFolders; ++s) {
      const std::string subName = "Project " + std::to_string(s + 1);
      const std::uint32_t subId = nextId++;
      leaves.Add(Record(topId, subName, DirectoryData(subId)));
      leaves.Add(Record(subId, "", ThreadData(topId, subName)));
      ++folders;
      addFiles(subId);
    }
  }
  leaves.Finish();
  return image;
}

}  // namespace kestrow::bench
