// Writes the seed corpus for fuzz_orb_reader: valid files that together use every chunk, store,
// data object and property type, both registered data components (label configuration and
// display options with style sheets, whose selectors are parsed from the file), both versions of
// the format and both codecs of its arrays.
// Usage: make_orb_seeds DIRECTORY

#include "anatomy/io/OrbFile.h"
#include "anatomy/style/ASCDisplayOptions.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "data/DataComponentList.h"
#include "data/LabelDataComponent.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>

namespace {

using namespace Orbitane;

Properties attributes()
{
	Properties nested;
	nested.setParam("m", Eigen::Matrix4d::Identity().eval());
	Properties p;
	p.setParam("flag", true);
	p.setParam("n", 3);
	p.setParam("x", 0.5);
	p.setParam("s", std::string("text"));
	p.setParam("v2", Eigen::Vector2d(1, 2));
	p.setParam("v3", Eigen::Vector3d(1, 2, 3));
	p.setParam("v4", Eigen::Vector4d(1, 2, 3, 4));
	p.setParam("nested", nested);
	return p;
}

std::unique_ptr<GenericAnatomicalStructure> structure()
{
	auto s = std::make_unique<GenericAnatomicalStructure>("femur");
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m(0, 3) = 5;
	s->setMatrixToWorld(m, false);
	s->keypoints.set("head", Eigen::Vector3d(1, 2, 3));
	s->keypoints.find("head")->attributes() = attributes();
	s->keypoints.getOrCreate("pending");
	s->planes.set("cut", Eigen::Vector4d::Constant(std::numeric_limits<double>::quiet_NaN()));
	auto images = std::make_unique<SharedImageSet>();
	images->add(std::make_shared<SharedImage>(PixelType::UInt8, Eigen::Vector3i(2, 2, 2)));
	images->add(std::make_shared<SharedImage>(PixelType::Float, Eigen::Vector3i(1, 2, 1)));
	auto labels = std::make_unique<LabelDataComponent>();
	labels->setLabelConfig(1, {"bone"});
	images->components().add(std::move(labels));
	s->images.set("ct", std::move(images));
	s->meshes.set("surface", std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
	                                                std::vector<Eigen::Vector3i>{{0, 1, 2}}));
	s->pointclouds.set("points", std::make_unique<PointCloud>(std::vector<Eigen::Vector3d>{{1, 1, 1}},
	                                                          std::vector<Eigen::Vector3d>{{0, 0, 1}}));
	auto graph = std::make_unique<Graph>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {0, 0, 1}},
	                                     std::vector<Eigen::Vector2i>{{0, 1}});
	graph->setNodeFeature("r", {1, 2});
	graph->setEdgeFeature("l", {1});
	s->graphs.set("tree", std::move(graph));
	s->meshes.find("surface")->attributes().setParam("synchronization", false);
	return s;
}

AnatomyPlugin::Selector selector(const std::string& text)
{
	auto parsed = AnatomyPlugin::Selector::parse(text);
	if (!parsed)
		throw std::runtime_error("seed selector does not parse: " + text);
	return *parsed;
}

std::unique_ptr<AnatomyPlugin::ASCDisplayOptions> displayOptions()
{
	AnatomyPlugin::StyleSheet sheet("base");
	sheet.appendOrModify(std::nullopt, [](Properties& d) { d.setParam("alpha", 0.5); });
	sheet.appendOrModify(selector("meshes#femur@surface.hl, [side=left]"),
	                     [](Properties& d) { d.setParam("color", Eigen::Vector3d(1, 0, 0)); });
	sheet.appendOrModify(selector(R"(keypoints#"Orbitane.Spine.Vertebra.L1"[tags~=landmark], *)"),
	                     [](Properties& d) { d.setParam("visibility", false); });
	AnatomyPlugin::StyleSheet off("off");
	off.enabled = false;
	auto options = std::make_unique<AnatomyPlugin::ASCDisplayOptions>();
	options->addStyleSheet(std::move(sheet), std::nullopt);
	options->addStyleSheet(std::move(off), std::nullopt);
	return options;
}

/// A mask and a mesh large enough that the writer compresses them.
std::unique_ptr<GenericAnatomicalStructure> maskedStructure()
{
	auto s = std::make_unique<GenericAnatomicalStructure>("ball");
	auto mask = std::make_shared<SharedImage>(PixelType::UInt8, Eigen::Vector3i(12, 12, 12));
	for (int i = 0; i < 12 * 12 * 12; ++i)
	{
		const Eigen::Vector3d p(i % 12 - 5.5, i / 12 % 12 - 5.5, i / 144 - 5.5);
		mask->typedData<std::uint8_t>()[i] = p.norm() < 5 ? 1 : 0;
	}
	auto images = std::make_unique<SharedImageSet>();
	images->add(mask);
	s->images.set("mask", std::move(images));
	std::vector<Eigen::Vector3d> vertices;
	std::vector<Eigen::Vector3i> faces;
	for (int i = 0; i < 64; ++i)
	{
		vertices.emplace_back(i % 4 + 0.5, i / 4 % 4, i / 16);
		if (i >= 2)
			faces.emplace_back(i - 2, i - 1, i);
	}
	s->meshes.set("surface", std::make_unique<Mesh>(std::move(vertices), std::move(faces)));
	return s;
}

void writeSeed(const std::filesystem::path& dir, const std::string& name, const GenericASC& asc,
               const OrbEncoding& encoding = {})
{
	const auto bytes = OrbFile::encode(asc, encoding);
	std::ofstream(dir / name, std::ios::binary)
	    .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}

int main(int argc, char** argv)
{
	if (argc != 2)
	{
		std::cerr << "usage: make_orb_seeds DIRECTORY\n";
		return 2;
	}
	const std::filesystem::path dir = argv[1];
	std::filesystem::create_directories(dir);

	GenericASC empty;
	writeSeed(dir, "empty.orb", empty);

	GenericASC full;
	full.setName("seed");
	full.keypoints.set("origin", Eigen::Vector3d(0, 0, 0));
	auto labels = std::make_unique<LabelDataComponent>();
	labels->setLabelConfig(2, {"two"});
	full.components().add(std::move(labels));
	full.components().add(displayOptions());
	full.addAnatomicalStructure(structure());
	full.addAnatomicalStructure(std::make_unique<GenericAnatomicalStructure>("bare"));
	writeSeed(dir, "full.orb", full);
	writeSeed(dir, "full-v1.orb", full, {1, OrbCodec::Stored, 0});

	GenericASC masked;
	masked.addAnatomicalStructure(maskedStructure());
	writeSeed(dir, "masked.orb", masked);
	writeSeed(dir, "masked-zlib.orb", masked, {2, OrbCodec::Deflate, 6});

	GenericASC flat(true);
	auto slice = std::make_unique<GenericAnatomicalStructure>("slice");
	slice->is2D = true;
	slice->keypoints.set("p", Eigen::Vector3d(1, 1, 0));
	flat.addAnatomicalStructure(std::move(slice));
	writeSeed(dir, "flat.orb", flat);
	return 0;
}
