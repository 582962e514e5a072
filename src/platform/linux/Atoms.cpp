// Global atoms: process-wide, reference-counted names.
#include <map>
#include <mutex>

#include "platform/Window.h"
#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

constexpr Atom kFirstAtom = 0xC000;
constexpr size_t kMaxAtomName = 255;

struct AtomEntry {
    std::string name;  // as first added
    uint32_t references = 0;
};

struct AtomTable {
    std::mutex mutex;
    std::map<Atom, AtomEntry> atoms;
    Atom next = kFirstAtom;

    // Names compare with ASCII case folded, as the lookups of registered names do.
    std::map<Atom, AtomEntry>::iterator FindLocked(const std::string& name) {
        for (auto it = atoms.begin(); it != atoms.end(); ++it) {
            if (internal::CompareNoCase(it->second.name, name) == 0) return it;
        }
        return atoms.end();
    }
    // A free number, wrapping round to reuse deleted ones; 0 when all 16384 are taken.
    Atom AllocateLocked() {
        for (uint32_t tries = 0; tries <= 0xFFFF - kFirstAtom; ++tries) {
            Atom candidate = next;
            next = next == 0xFFFF ? kFirstAtom : static_cast<Atom>(next + 1);
            if (!atoms.count(candidate)) return candidate;
        }
        return 0;
    }
};

AtomTable& Atoms() {
    static AtomTable* table = new AtomTable;  // atoms may be deleted by static destructors
    return *table;
}

}  // namespace

Atom GlobalAddAtom(const std::string& name) {
    if (name.empty() || name.size() > kMaxAtomName) return 0;
    auto& t = Atoms();
    std::lock_guard lock(t.mutex);
    auto it = t.FindLocked(name);
    if (it != t.atoms.end()) {
        ++it->second.references;
        return it->first;
    }
    const Atom atom = t.AllocateLocked();
    if (atom != 0) t.atoms[atom] = AtomEntry{name, 1};
    return atom;
}

Atom GlobalFindAtom(const std::string& name) {
    auto& t = Atoms();
    std::lock_guard lock(t.mutex);
    auto it = t.FindLocked(name);
    return it == t.atoms.end() ? 0 : it->first;
}

bool GlobalDeleteAtom(Atom atom) {
    auto& t = Atoms();
    std::lock_guard lock(t.mutex);
    auto it = t.atoms.find(atom);
    if (it == t.atoms.end()) return false;
    if (--it->second.references == 0) t.atoms.erase(it);
    return true;
}

}  // namespace kestrix::platform
