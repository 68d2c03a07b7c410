#pragma once
// Load-once caches keyed by file name. One ResourceCache<T> per resource type T; all instances of a
// type share one name table and one count table, so a file asked for through several instances is
// loaded once and shared. Each instance counts the references it took and gives them up when it is
// destroyed; a resource is destroyed when the last reference of any instance of its type goes.
//
// Loaders throw their failure as a std::string; get() wraps it as
// "Failed to load " + name + "\n" + text.
#include <cctype>
#include <iterator>
#include <map>
#include <memory>
#include <string>

template <class T>
class ResourceCache {
public:
    ResourceCache() {
        // Construct the shared tables before any instance, so they outlive static instances too.
        names();
        counts();
    }
    ResourceCache(const ResourceCache&) = delete;
    ResourceCache& operator=(const ResourceCache&) = delete;

    virtual ~ResourceCache() {
        auto& shared = counts();
        for (auto& [resource, n] : own_) {
            for (; n > 0; --n) {
                auto it = shared.find(resource);
                if (it == shared.end()) break;
                if (--it->second == 0) {
                    // Forget the destroyed object everywhere, so a later object at the same address
                    // is never handed out under this one's names; its names load afresh.
                    shared.erase(it);
                    auto& table = names();
                    for (auto e = table.begin(); e != table.end();)
                        e = e->second == resource ? table.erase(e) : std::next(e);
                    delete resource;
                }
            }
        }
        own_.clear();
    }

    // The resource named `name`, loaded through load() when no instance of the type holds it.
    T* get(std::string name) {
        auto& table = names();
        T*& entry = table[name];
        if (entry) {
            auto it = counts().find(entry);
            if (it != counts().end() && it->second > 0) {
                ++own_[entry];
                ++it->second;
                return entry;
            }
        }
        T* resource;
        try {
            resource = load(name);
        } catch (const std::string& text) {
            forgetUnused(name);
            throw "Failed to load " + name + "\n" + text;
        } catch (...) {
            forgetUnused(name);
            throw;
        }
        if (!resource) forgetUnused(name);
        if (resource) add(name, resource);
        return resource;
    }

    // Enters an existing resource under a name (replacing an earlier entry) and takes a reference.
    void add(const std::string& name, T* resource) {
        names()[name] = resource;
        ++own_[resource];
        ++counts()[resource];
    }

    // The name under which some instance holds a resource for the file `file` (names match in any letter
    // case, as the data lookup does), or an empty text when none does.
    static std::string heldName(const std::string& file) {
        auto same = [&](const std::string& name) {
            if (name.size() != file.size()) return false;
            for (size_t i = 0; i < name.size(); ++i)
                if (std::tolower(static_cast<unsigned char>(name[i])) !=
                    std::tolower(static_cast<unsigned char>(file[i])))
                    return false;
            return true;
        };
        for (const auto& [name, resource] : names())
            if (resource && same(name)) return name;
        return {};
    }

    // Loads the resource held under `name` afresh and moves the new version into the existing object
    // (replace()), so that everything pointing at it shows the new one. The new version is built whole
    // first: a failing load throws as get() does and leaves the held version as it was. False when no
    // instance holds `name` or the held object cannot take the new version in place.
    bool reload(const std::string& name) {
        auto it = names().find(name);
        if (it == names().end() || !it->second) return false;
        std::unique_ptr<T> fresh;
        try {
            fresh.reset(load(name));
        } catch (const std::string& text) {
            throw "Failed to load " + name + "\n" + text;
        }
        return fresh && replace(*it->second, *fresh);
    }

    // Calls f(name, resource) for every resource held under a name.
    template <class F>
    static void forEachHeld(F f) {
        for (const auto& [name, resource] : names())
            if (resource) f(name, resource);
    }

    // References this instance took on `resource`, and those all instances of the type hold.
    int ownCount(const T* resource) const {
        auto it = own_.find(const_cast<T*>(resource));
        return it == own_.end() ? 0 : it->second;
    }
    static int sharedCount(const T* resource) {
        auto it = counts().find(const_cast<T*>(resource));
        return it == counts().end() ? 0 : it->second;
    }

protected:
    // Returns a new T for the file name, or throws a std::string.
    virtual T* load(std::string name) = 0;
    // Moves the contents of `fresh` (just loaded) into `held`, and the old contents into `fresh`, which is
    // then destroyed; false when `held` cannot take them (it is left alone).
    virtual bool replace(T& /*held*/, T& /*fresh*/) { return false; }

private:
    // A name whose load failed holds nothing; dropping its entry keeps the table to names in use.
    static void forgetUnused(const std::string& name) {
        auto it = names().find(name);
        if (it != names().end() && !it->second) names().erase(it);
    }
    static std::map<std::string, T*>& names() {
        static std::map<std::string, T*> table;
        return table;
    }
    static std::map<T*, int>& counts() {
        static std::map<T*, int> table;
        return table;
    }

    std::map<T*, int> own_;
};

// A cache of resources that take a new version by swapping contents with it (their swap()).
template <class T>
class SwappingCache : public ResourceCache<T> {
protected:
    bool replace(T& held, T& fresh) override {
        held.swap(fresh);
        return true;
    }
};
