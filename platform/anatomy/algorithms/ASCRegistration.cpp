#include "anatomy/algorithms/ASCRegistration.h"

#include "anatomy/algorithms/StructurePairs.h"
#include "anatomy/registration/ImageRegistration.h"
#include "anatomy/registration/MeshDeformation.h"
#include "anatomy/registration/RigidFit.h"
#include "core/Log.h"

#include <Eigen/Geometry>
#include <fmt/format.h>

#include <deque>
#include <limits>
#include <optional>

namespace Orbitane {

namespace {

using Method = ASCRegistration::RegistrationMethod;
using StructurePair = std::pair<AnatomicalStructure*, AnatomicalStructure*>;

const std::string kLogCategory = "AnatomyPlugin.ASCRegistration";
const std::string kFailed = "Registration failed: ";

std::vector<Registration::PointCorrespondence> pairedKeypoints(const std::vector<StructurePair>& pairs)
{
	std::vector<Registration::PointCorrespondence> points;
	for (const auto& [f, m] : pairs)
		forEachPairedEntry(f->keypoints, m->keypoints, [&](const std::string&, const auto& fe, const auto& me) {
			points.push_back({fe.value(), me.value(), 1.0});
		});
	return points;
}

std::vector<Registration::PlaneCorrespondence> pairedPlanes(const std::vector<StructurePair>& pairs)
{
	std::vector<Registration::PlaneCorrespondence> planes;
	for (const auto& [f, m] : pairs)
		forEachPairedEntry(f->planes, m->planes, [&](const std::string&, const auto& fe, const auto& me) {
			if (!fe.value().hasNaN() && !me.value().hasNaN())
				planes.push_back({fe.value(), me.value(), 1.0});
		});
	return planes;
}

/// Voxels of the focused image as doubles, kept alive beside the views that borrow them.
struct ImagePairs
{
	std::deque<std::vector<double>> buffers;
	std::vector<Registration::ImageView> fixed, moving;

	void add(const SharedImageSet& f, const SharedImageSet& m)
	{
		auto fi = f.get(-1), mi = m.get(-1);
		if (!fi || !mi)
			return;
		fixed.push_back(view(*fi, f.matrixToWorld()));
		moving.push_back(view(*mi, m.matrixToWorld()));
	}

	Registration::ImageView view(const SharedImage& image, const Eigen::Matrix4d& matrix)
	{
		std::vector<double>& voxels = buffers.emplace_back(static_cast<std::size_t>(image.numVoxels()));
		for (std::int64_t i = 0; i < image.numVoxels(); ++i)
			voxels[static_cast<std::size_t>(i)] = image.valueAt(i);
		const Eigen::Vector3i& d = image.dimensions();
		return {std::span<const double>(voxels), {d.x(), d.y(), d.z()}, image.spacing(), matrix};
	}
};

ImagePairs pairedImages(const std::vector<StructurePair>& pairs)
{
	ImagePairs images;
	for (const auto& [f, m] : pairs)
		forEachPairedEntry(f->images, m->images, [&](const std::string&, const auto& fe, const auto& me) {
			images.add(*fe.value(), *me.value());
		});
	return images;
}

std::vector<Eigen::Vector3d> worldVertices(const Mesh& mesh)
{
	std::vector<Eigen::Vector3d> out;
	out.reserve(mesh.vertices().size());
	const Eigen::Matrix4d& m = mesh.matrixToWorld();
	for (const Eigen::Vector3d& v : mesh.vertices())
		out.push_back((m * v.homogeneous()).head<3>());
	return out;
}

/// A paired mesh to register, copied out of the collections: progress slots run the caller's code,
/// which may change the collections while the registration runs.
struct MeshPair
{
	std::size_t pair = 0;    // position in pairStructures' list; 0 is the collections themselves
	std::string structure;
	std::string key;
	std::vector<Eigen::Vector3d> fixedVertices, movingVertices;    // in world coordinates
	std::vector<Eigen::Vector3i> fixedFaces;
	std::unique_ptr<Mesh> moving;    // a copy, which receives the fitted vertices
};

std::vector<MeshPair> pairedMeshes(const std::vector<StructurePair>& pairs)
{
	std::vector<MeshPair> meshes;
	for (std::size_t i = 0; i < pairs.size(); ++i)
	{
		const auto& [f, m] = pairs[i];
		forEachPairedEntry(f->meshes, m->meshes, [&](const std::string& key, const auto& fe, const auto& me) {
			const Mesh& fixedMesh = *fe.value();
			const Mesh& movingMesh = *me.value();
			meshes.push_back({i, m->identifier(), key, worldVertices(fixedMesh), worldVertices(movingMesh),
			                  fixedMesh.faces(), std::make_unique<Mesh>(movingMesh)});
		});
	}
	return meshes;
}

/// A residual above this share of the fixed side's spread marks a fit that misses the shapes.
constexpr double kPoorFitShare = 0.1;

std::string formatNumber(double value) { return fmt::format("{:.4g}", value); }

/// The method that can follow what a poor fit of `method` left unexplained.
std::string betterMethod(Method method)
{
	switch (method)
	{
		case Method::PointsAndPlanes: return "PointsRigidScaling, which also fits a uniform scale,";
		default: return "DeformableMeshRegistration, which fits the meshes' shapes,";
	}
}

Registration::RigidFitResult fitByMethod(Method method, const std::vector<StructurePair>& pairs)
{
	switch (method)
	{
		case Method::PointsAndPlanes:
			return Registration::fitRigidPointsAndPlanes(pairedKeypoints(pairs), pairedPlanes(pairs));
		case Method::PointsRigidScaling: return Registration::fitSimilarity(pairedKeypoints(pairs));
		case Method::RigidImages: {
			ImagePairs images = pairedImages(pairs);
			if (images.fixed.empty())
				return Registration::RigidFitResult::failure("no images with the same key in paired structures");
			return Registration::registerRigidImages(images.fixed, images.moving);
		}
		default: return Registration::RigidFitResult::failure("not a rigid method");
	}
}

}

ASCRegistration::ASCRegistration(AnatomicalStructureCollection* fixed, AnatomicalStructureCollection* moving,
                                 SharedImageSet*, SharedImageSet*)
    : m_fixed(fixed), m_moving(moving)
{
	registerParameter(registrationMethod);
	registerParameter(transformation);
	registerParameter(residual);
}

void ASCRegistration::compute()
{
	m_status = Unknown;
	if (!m_fixed || !m_moving)
	{
		fail(IncompleteInput, kLogCategory, kFailed + "a fixed and a moving collection are needed");
		return;
	}
	const bool done = registrationMethod.get() == RegistrationMethod::DeformableMeshRegistration ? computeDeformable()
	                                                                                             : computeRigid();
	if (done)
		m_status = Success;
}

bool ASCRegistration::computeRigid()
{
	const auto pairs = pairStructures(*m_fixed, *m_moving);
	const Registration::RigidFitResult fit = fitByMethod(registrationMethod.get(), pairs);
	if (!fit.ok)
		return fail(InvalidInput, kLogCategory, kFailed + fit.reason);
	if (!fit.transform.allFinite())
		return fail(Error, kLogCategory, kFailed + "the computed transformation is not finite");

	// the collection's own contents and every structure move along, each in its own frame
	m_moving->setMatrixToWorld(fit.transform * m_moving->matrixToWorld(), true);
	for (int i = 0; i < m_moving->numAnatomicalStructures(); ++i)
	{
		AnatomicalStructure* s = m_moving->anatomicalStructure(i);
		s->setMatrixToWorld(fit.transform * s->matrixToWorld(), true);
	}
	transformation.set(fit.transform);
	reportResidual(fit.rms, fit.spread);
	setProgress(1.0);
	return true;
}

void ASCRegistration::reportResidual(double rms, double spread)
{
	residual.set(rms);
	const Method method = registrationMethod.get();
	const std::string unit = method == Method::RigidImages ? "in intensity" : "in world units";
	Log::logIfAccepted(Log::Info, kLogCategory,
	                   [&] { return "Registration residual: " + formatNumber(rms) + " " + unit; });
	// a rigid or similarity motion leaves this much only where the shapes themselves differ
	if (spread > 0.0 && rms > kPoorFitShare * spread)
		Log::logIfAccepted(Log::Warning, kLogCategory, [&] {
			return "Registration residual " + formatNumber(rms) +
			       " exceeds a tenth of the spread of the fixed "
			       "keypoints (" +
			       formatNumber(spread) + "): " + betterMethod(method) + " may fit better";
		});
}

bool ASCRegistration::computeDeformable()
{
	std::vector<MeshPair> meshes = pairedMeshes(pairStructures(*m_fixed, *m_moving));
	if (meshes.empty())
		return fail(InvalidInput, kLogCategory, kFailed + "no meshes with the same key in paired structures");

	// Each mesh's share of the progress is its share of the moving vertices.
	double total = 0.0;
	for (const MeshPair& p : meshes)
		total += static_cast<double>(p.movingVertices.size());
	double before = 0.0;
	for (MeshPair& p : meshes)
	{
		const double count = static_cast<double>(p.movingVertices.size());
		Registration::MeshDeformationOptions options;
		options.progress = [this, before, count, total](double f) { setProgress((before + f * count) / total); };
		auto result =
		    Registration::deformMeshOnto(p.fixedVertices, p.fixedFaces, p.movingVertices, p.moving->faces(), options);
		if (!result.ok)
			return fail(InvalidInput, kLogCategory,
			            kFailed + "mesh '" + p.key + "' of '" + p.structure + "': " + result.reason);
		// back into the moving mesh's own frame, so its matrix stays what it was
		const Eigen::Matrix4d toMesh = p.moving->matrixToWorld().inverse();
		for (Eigen::Vector3d& v : result.vertices)
			v = (toMesh * v.homogeneous()).head<3>();
		p.moving->setVertices(std::move(result.vertices));
		before += count;
	}
	// The progress slots may have run the caller's code, so the structures are looked up afresh.
	auto holder = [this](const MeshPair& p) {
		return p.pair == 0 ? m_moving : m_moving->anatomicalStructureByIdentifier(p.structure);
	};
	for (const MeshPair& p : meshes)
		if (!holder(p))
			return fail(Error, kLogCategory,
			            kFailed + "the structure '" + p.structure + "' left the moving collection during the registration");
	for (MeshPair& p : meshes)
		holder(p)->meshes.set(p.key, std::move(p.moving));
	transformation.set(Eigen::Matrix4d::Identity());
	residual.set(std::numeric_limits<double>::quiet_NaN());
	return true;
}

std::unique_ptr<AnatomicalStructureCollection> ASCRegistration::takeMovingASC()
{
	return m_moving ? m_moving->clone() : nullptr;
}

std::unique_ptr<AnatomicalStructureCollection> ASCRegistration::takeFixedASC()
{
	return m_fixed ? m_fixed->clone() : nullptr;
}

}
