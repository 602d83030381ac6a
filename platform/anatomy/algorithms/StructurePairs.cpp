#include "anatomy/algorithms/StructurePairs.h"

namespace Orbitane {

std::vector<std::pair<AnatomicalStructure*, AnatomicalStructure*>> pairStructures(AnatomicalStructureCollection& fixed,
                                                                                  AnatomicalStructureCollection& moving)
{
	std::vector<std::pair<AnatomicalStructure*, AnatomicalStructure*>> pairs;
	pairs.emplace_back(&fixed, &moving);
	for (int i = 0; i < moving.numAnatomicalStructures(); ++i)
	{
		AnatomicalStructure* m = moving.anatomicalStructure(i);
		if (AnatomicalStructure* f = fixed.anatomicalStructureByIdentifier(m->identifier()))
			pairs.emplace_back(f, m);
	}
	return pairs;
}

}
