// The repository's tables: namespaces, class declarations (each kept as the MOF text that
// declared it, read again by the same reader, so that a class comes back exactly as compiled)
// and provider registrations. SQL only; what the rows mean is for repository_build.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "repository_types.h"
#include "sqlite_store.h"

namespace velt::wmi::detail {

struct StoredClass {
  std::u16string nameSpace;  // as the declaring text named it
  std::u16string name;
  std::u16string superclass;  // empty: none
  std::string source;         // the declaration, from its qualifiers through its ';'
  std::string file;           // compiled from
  int64_t revision = 0;       // the generation that wrote it
};

struct StoredContents {
  int64_t generation = 0;  // grows with every compile that changed something
  std::vector<std::u16string> namespaces;
  std::vector<StoredClass> classes;
  std::vector<std::pair<std::u16string, ProviderRegistration>> providers;  // namespace, row
};

// Creates the tables when missing; throws RepositoryError for a store of a later layout.
void prepareSchema(Database& db);
int64_t storedGeneration(Database& db);
StoredContents readStored(Database& db);

void writeNamespace(Database& db, const std::u16string& name);
void writeClass(Database& db, const StoredClass& row);
void writeProvider(Database& db, const std::u16string& nameSpace,
                   const ProviderRegistration& registration);
void writeGeneration(Database& db, int64_t generation);

}  // namespace velt::wmi::detail
