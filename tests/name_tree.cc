// The legacy name tree of the rename tests and of tools/make-name-tree.
#include "tests/name_tree.h"

#include <fstream>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/names/name-decide.h"
#include "engine/platform/text.h"

namespace fs = std::filesystem;

namespace name_tree {
namespace {

// `utf8` in single-byte `page`; every character of the tree has a byte there.
std::string InPage(unsigned page, const std::string& utf8) {
  std::string bytes;
  if (!EncodeToPage(page, DecodeUtf8(utf8), &bytes))
    return "unencodable";
  return bytes;
}

// UTF-8 read through `page` and encoded as UTF-8 again (1252: as Windows
// reads it, so that bytes it leaves undefined stand for themselves).
std::string Twice(unsigned page, const std::string& utf8) {
  std::wstring text;
  for (unsigned char b : utf8) {
    const std::wstring c = DecodeCodePage(page, std::string(1, char(b)));
    text += c.empty() ? std::wstring(1, wchar_t(b)) : c;
  }
  return WideToUtf8(text);
}

struct Builder {
  fs::path root;
  NameTree tree;

  void Folder(const std::string& original, const std::string& repaired) {
    fs::create_directory(root / original);
    tree.original[original + "/"] = "";
    tree.repaired[repaired + "/"] = "";
  }
  // A file holds its original path, so that every file tells itself apart.
  void File(const std::string& original, const std::string& repaired) {
    std::ofstream(root / original, std::ios::binary) << original;
    tree.original[original] = original;
    tree.repaired[repaired] = original;
  }
};

}  // namespace

NameTree WriteNameTree(const fs::path& root) {
  Builder b{root, {}};
  // A Russian band's folder in Windows-1251, with a folder inside it.
  const std::string kino = InPage(1251, "Кино");
  b.Folder(kino, "Кино");
  for (const char* song : {"Группа крови", "Звезда по имени Солнце", "Пачка сигарет", "Кукушка"})
    b.File(kino + "/" + InPage(1251, song) + ".txt", std::string("Кино/") + song + ".txt");
  const std::string early = kino + "/" + InPage(1251, "Ранние записи");
  b.Folder(early, "Кино/Ранние записи");
  for (const char* song : {"Время есть, а денег нет", "Восьмиклассница"})
    b.File(early + "/" + InPage(1251, song) + ".txt",
           std::string("Кино/Ранние записи/") + song + ".txt");
  // Polish in Windows-1250.
  const std::string niemen = InPage(1250, "Czesław Niemen");
  b.Folder(niemen, "Czesław Niemen");
  for (const char* song : {"Dziwny jest ten świat", "Wspomnienie", "Sen o Warszawie",
                           "Pójdź do mnie"})
    b.File(niemen + "/" + InPage(1250, song) + ".txt", std::string("Czesław Niemen/") + song + ".txt");
  // Greek in Windows-1253.
  const std::string greek = InPage(1253, "Μίκης Θεοδωράκης");
  b.Folder(greek, "Μίκης Θεοδωράκης");
  for (const char* song : {"Άρνηση", "Το τρένο φεύγει στις οχτώ", "Στρώσε το στρώμα σου"})
    b.File(greek + "/" + InPage(1253, song) + ".txt", std::string("Μίκης Θεοδωράκης/") + song + ".txt");
  // An archive unpacked with the OEM page of a Russian system: cp866.
  const std::string archive = InPage(866, "Высоцкий");
  b.Folder(archive, "Высоцкий");
  for (const char* song : {"Песня о друге", "Кони привередливые", "Охота на волков"})
    b.File(archive + "/" + InPage(866, song) + ".txt", std::string("Высоцкий/") + song + ".txt");
  // An archive from a Western DOS system: cp437.
  b.Folder("dos", "dos");
  for (const char* song : {"Déjà vu", "Über die Brücke", "Noël à Paris", "Mañana"})
    b.File("dos/" + InPage(437, song) + ".txt", std::string("dos/") + song + ".txt");
  // UTF-8 read through a page and stored as UTF-8 again.
  b.Folder("twice", "twice");
  b.File("twice/" + Twice(1251, "Песня") + ".txt", "twice/Песня.txt");
  b.File("twice/" + Twice(1252, "Ночь") + ".txt", "twice/Ночь.txt");
  b.File("twice/" + Twice(1252, Twice(1252, "Αθήνα")) + ".txt", "twice/Αθήνα.txt");
  b.Folder("twice/" + Twice(1251, "Лето"), "twice/Лето");
  // Right names never change.
  b.Folder("right", "right");
  for (const char* name : {"Песня.txt", "Café del Mar.txt", "Ελλάδα.txt", "plain ascii.txt",
                           "Żółć.txt", "Ïåñíÿ.txt", "чай.txt", "сад", "Ті.txt", "Вё.txt"})
    b.File(std::string("right/") + name, std::string("right/") + name);
  // Two names that read as one, and a name whose right twin is there.
  b.Folder("collide", "collide");
  b.File("collide/" + InPage(1251, "Дом") + ".txt", "collide/" + InPage(1251, "Дом") + ".txt");
  b.File("collide/" + Twice(1251, "Дом") + ".txt", "collide/" + Twice(1251, "Дом") + ".txt");
  b.File("collide/" + InPage(1251, "Сад") + ".txt", "collide/" + InPage(1251, "Сад") + ".txt");
  b.File("collide/Сад.txt", "collide/Сад.txt");
  b.File("collide/" + InPage(1251, "Река") + ".txt", "collide/Река.txt");
  // 240 bytes in Windows-1251, 470 as UTF-8.
  b.Folder("long", "long");
  std::string longName;
  while (longName.size() < 230)
    longName += "Очень длинное название песни ";
  b.File("long/" + InPage(1251, longName) + ".txt", "long/" + InPage(1251, longName) + ".txt");
  b.File("long/" + InPage(1251, "Короткая") + ".txt", "long/Короткая.txt");
  return b.tree;
}

Tree ReadTree(const fs::path& root) {
  Tree tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).native();
    if (entry.is_directory()) {
      tree[relative + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      tree[relative] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

std::size_t EntriesRight(const Tree& expected, const Tree& now) {
  std::size_t right = 0;
  for (const auto& [path, contents] : expected) {
    const auto it = now.find(path);
    right += it != now.end() && it->second == contents;
  }
  return right;
}

}  // namespace name_tree
