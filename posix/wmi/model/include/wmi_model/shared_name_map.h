// A map from lower-case names to values that shares what it can with the map it grew from:
// a derived class adds the features it declares without copying the ones it inherits, so a
// chain of derived classes costs what it declares, not what each class inherits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velt::wmi::detail {

template <class V>
class SharedNameMap {
 public:
  const V* find(const std::u16string& key) const {
    const std::size_t hash = std::hash<std::u16string>()(key);
    unsigned depth = 0;
    for (const Node* n = m_root.get(); n; n = n->child[branch(hash, depth++)].get()) {
      if (n->hash == hash && n->key == key) return &n->value;
    }
    return nullptr;
  }

  // A map with `key` set to `value`; this one stays as it is. Copies only the nodes on the
  // way to the key, whose number grows with the logarithm of the size.
  SharedNameMap with(const std::u16string& key, V value) const {
    const std::size_t hash = std::hash<std::u16string>()(key);
    std::vector<const Node*> path;
    std::vector<unsigned> turns;
    const Node* n = m_root.get();
    unsigned depth = 0;
    while (n && !(n->hash == hash && n->key == key)) {
      path.push_back(n);
      turns.push_back(branch(hash, depth++));
      n = n->child[turns.back()].get();
    }
    auto fresh = std::make_shared<Node>(Node{hash, key, std::move(value), {}});
    if (n) {  // replaces the entry, keeping what hangs below it
      fresh->child[0] = n->child[0];
      fresh->child[1] = n->child[1];
    }
    std::shared_ptr<const Node> below = std::move(fresh);
    for (std::size_t i = path.size(); i-- > 0;) {
      auto copy = std::make_shared<Node>(*path[i]);
      copy->child[turns[i]] = std::move(below);
      below = std::move(copy);
    }
    SharedNameMap out;
    out.m_root = std::move(below);
    return out;
  }

 private:
  struct Node {
    std::size_t hash;
    std::u16string key;
    V value;
    std::shared_ptr<const Node> child[2];
  };
  // Hash bits pick the way; past them (keys whose whole hashes agree) the nodes form a list.
  static unsigned branch(std::size_t hash, unsigned depth) {
    return depth < 8 * sizeof hash ? unsigned(hash >> depth) & 1u : 0u;
  }

  std::shared_ptr<const Node> m_root;
};

}  // namespace velt::wmi::detail
