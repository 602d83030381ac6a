#include "entry/VersionCheck.h"

#include <gtest/gtest.h>

using Orbitane::Bindings::interpreterMismatchMessage;
using Orbitane::Bindings::isCompatibleInterpreter;

namespace {

TEST(InterpreterVersion, SameMinorReleaseIsAccepted)
{
	for (const char* version : {"3.14.0 (main, Oct  7 2025, 15:35:12) [GCC 15.2.0]", "3.14.10", "3.14.2+", "3.14",
	                            "3.14rc1", "3.14.0a7 experimental free-threading build"})
	{
		EXPECT_TRUE(isCompatibleInterpreter("3.14", version)) << version;
		EXPECT_EQ(interpreterMismatchMessage("3.14", version), std::nullopt) << version;
	}
}

TEST(InterpreterVersion, OtherReleasesAreRefused)
{
	for (const char* version : {"3.13.5 (main, Jun 25 2025, 18:55:22) [GCC 14.2.0]", "3.140.1", "3.141", "3.1", "3.",
	                            "", "4.14.0", " 3.14.0", "2.7.18"})
		EXPECT_FALSE(isCompatibleInterpreter("3.14", version)) << '"' << version << '"';
}

TEST(InterpreterVersion, MismatchMessageNamesBothVersionsInFull)
{
	EXPECT_EQ(interpreterMismatchMessage("3.14", "3.13.5 (main, Jun 25 2025) [GCC 14.2.0]"),
	          "Python version mismatch: module was compiled for Python 3.14, but the interpreter version is "
	          "incompatible: 3.13.5 (main, Jun 25 2025) [GCC 14.2.0].");
	EXPECT_EQ(interpreterMismatchMessage("3.14", "3.140"),
	          "Python version mismatch: module was compiled for Python 3.14, but the interpreter version is "
	          "incompatible: 3.140.");
}

}
