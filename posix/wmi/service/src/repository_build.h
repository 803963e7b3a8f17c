// The namespaces as a Service serves them, built from the stored rows: each stored class is
// read again from its declaration, after its superclass, unless it and its superclasses are
// unchanged since the previous build, whose definitions then stay.
#pragma once

#include <set>
#include <stdexcept>
#include <string>

#include "repository_store.h"
#include "repository_types.h"

namespace velt::wmi::detail {

// A stored class that no longer reads: its superclass is gone or changed under it.
class ReplayError : public std::runtime_error {
 public:
  ReplayError(std::u16string nameSpace, std::u16string className, const std::string& message)
      : std::runtime_error(message),
        nameSpace(std::move(nameSpace)),
        className(std::move(className)) {}
  std::u16string nameSpace;
  std::u16string className;
};

// Every namespace has the classes of the status objects that providers attach to a failure.
void addStatusClasses(NamespaceData& ns, const std::u16string& server);

// `replaced` gets the "ns|class" keys of classes that `previous` held and that were read anew.
// Throws ReplayError.
Contents buildContents(const StoredContents& stored, const std::u16string& server,
                       const Contents& previous, std::set<std::u16string>& replaced);

// The "ns|provider" keys of the providers a change leaves serving what no longer is: those of
// replaced classes and event classes, and those whose registration changed or went.
std::set<std::u16string> staleProviders(const Contents& before, const Contents& after,
                                        const std::set<std::u16string>& replaced);

}  // namespace velt::wmi::detail
