#pragma once

#include "anatomy/style/ASCDisplayOptions.h"
#include "anatomy/style/ContentType.h"
#include "anatomy/style/StyleTarget.h"
#include "core/Properties.h"

#include <string>

namespace Orbitane {
class AnatomicalStructure;
class AnatomicalStructureCollection;
}

namespace Orbitane::AnatomyPlugin {

/// The effective style of one element, as style property name -> value. The cascade:
///
/// 1. Sheets are visited in the order the display options hold them; disabled sheets are
///    skipped. Within a sheet, rules are visited in their order.
/// 2. Every rule whose selector matches the element (a rule without selector matches every
///    element) writes its whole declaration into the result, replacing values of the same name.
///    Order alone decides: a later sheet overrides an earlier one and a later rule an earlier
///    one; there is no ranking of selectors by how specific they are.
/// 3. When the result then says "allow_object_attributes_override" is true, every known style
///    property (StylePropertyTable.h) found in the element's own attributes replaces the value
///    from the sheets, or adds it. The switch itself is never taken from the attributes.
///
/// Properties that no rule sets are absent from the result; their defaults are the display's.
Properties resolveStyle(const ASCDisplayOptions& options, const StyleTarget& target);

/// The style of the element under key in the store of kind store of structure, with the display
/// options that collection holds among its components (none: no sheets). structure may be the
/// collection itself or one of its structures; a missing key is styled as an element without
/// attributes.
Properties resolveStyle(const AnatomicalStructureCollection& collection, const AnatomicalStructure& structure,
                        ContentType store, const std::string& key);

}
