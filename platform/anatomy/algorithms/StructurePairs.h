#pragma once

#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <utility>
#include <vector>

namespace Orbitane {

/// Structures of two collections with equal identifiers, the collections themselves first.
std::vector<std::pair<AnatomicalStructure*, AnatomicalStructure*>>
pairStructures(AnatomicalStructureCollection& fixed, AnatomicalStructureCollection& moving);

/// Entries of two stores whose keys are equal and whose values are valid, in key order.
template <typename Store, typename F>
void forEachPairedEntry(const Store& fixed, const Store& moving, F&& f)
{
	for (const auto& [key, movingEntry] : moving)
	{
		const auto* fixedEntry = fixed.find(key);
		if (fixedEntry && fixedEntry->isInitialized() && movingEntry.isInitialized())
			f(key, *fixedEntry, movingEntry);
	}
}

}
