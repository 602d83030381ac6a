#include "data/DataComponent.h"

namespace Orbitane {

DataComponentBase::~DataComponentBase()
{
	m_life.end();
	anyDestroyed().emitSignal(*this);
}

Signal<const DataComponentBase&>& DataComponentBase::anyDestroyed()
{
	static Signal<const DataComponentBase&> signal;
	return signal;
}

}
