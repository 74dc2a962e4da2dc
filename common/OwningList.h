// An ordered list that owns its entries: deleting an entry, clearing the list or
// destroying the list destroys the entries. Positions count from 0; a position that
// does not exist raises EListError.
#pragma once

#include "Errors.h"

#include <memory>
#include <utility>
#include <vector>

template <class T, class Ptr = std::unique_ptr<T>>
class TOwningList {
public:
    TOwningList() = default;
    TOwningList(const TOwningList&) = delete;
    TOwningList& operator=(const TOwningList&) = delete;
    virtual ~TOwningList() = default;

    int Count() const { return static_cast<int>(FItems.size()); }

    T* Items(int index) const
    {
        CheckIndex(index);
        return FItems[static_cast<size_t>(index)].get();
    }

    T* Add(Ptr item)
    {
        FItems.push_back(std::move(item));
        return FItems.back().get();
    }

    void Insert(int index, Ptr item)
    {
        if (index < 0 || index > Count())
            throw EListError(index);
        FItems.insert(FItems.begin() + index, std::move(item));
    }

    // Removes the entry at index and destroys it.
    void Delete(int index)
    {
        Ptr doomed = Extract(index);
    }

    // Removes the entry at index and hands it to the caller.
    Ptr Extract(int index)
    {
        CheckIndex(index);
        Ptr item = std::move(FItems[static_cast<size_t>(index)]);
        FItems.erase(FItems.begin() + index);
        return item;
    }

    void Clear()
    {
        std::vector<Ptr> doomed;
        doomed.swap(FItems);
    }

    // Position of the first entry that satisfies pred, or -1.
    template <class Pred>
    int IndexOfIf(Pred pred) const
    {
        for (size_t i = 0; i < FItems.size(); ++i)
            if (pred(*FItems[i]))
                return static_cast<int>(i);
        return -1;
    }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

protected:
    void CheckIndex(int index) const
    {
        if (index < 0 || index >= Count())
            throw EListError(index);
    }

    std::vector<Ptr> FItems;
};
