// Draws the scene that orbitane.view wrote into this page. Styles arrive resolved: each part
// carries its own visibility, colour and alpha, so this code only builds three.js objects.
(function () {
  "use strict";

  const sceneData = JSON.parse(document.getElementById("orbitane-scene").textContent);
  const panel = document.getElementById("panel");
  const view = document.getElementById("view");
  const labelLayer = document.getElementById("labels");
  const tip = document.getElementById("tip");
  const message = document.getElementById("message");
  // times in ms since navigation: the bench reports where a large page spends its start
  const viewer = { frames: 0, firstFrameMs: null, structures: [], timings: { scriptStart: performance.now() } };
  window.orbitaneViewer = viewer;

  function decodeGeometry() {
    const text = document.getElementById("orbitane-geometry").textContent.trim();
    if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }
  const geometryBytes = decodeGeometry();
  viewer.timings.decoded = performance.now();
  const typed = (Type, [offset, count]) => new Type(geometryBytes.buffer, geometryBytes.byteOffset + offset, count);
  const indexArray = (element, reference) => typed(element.indexType === "uint16" ? Uint16Array : Uint32Array, reference);

  function cssColour([r, g, b]) {
    return `rgb(${Math.round(r * 255)}, ${Math.round(g * 255)}, ${Math.round(b * 255)})`;
  }

  // ---- side panel ------------------------------------------------------------------------------
  function addSection(title, items) {
    if (!items.length) return;
    const heading = document.createElement("h2");
    heading.textContent = title;
    const list = document.createElement("ul");
    for (const text of items) {
      const item = document.createElement("li");
      item.className = "note";
      item.textContent = text;
      list.appendChild(item);
    }
    panel.append(heading, list);
  }

  function buildPanel(entries) {
    const title = document.createElement("h1");
    title.textContent = sceneData.title;
    panel.appendChild(title);
    const list = document.createElement("ul");
    for (const entry of entries) list.appendChild(entry.item);
    panel.appendChild(list);
    if (!sceneData.structures.length) addSection("Structures", ["This collection holds no structures."]);
    addSection("Left out", sceneData.leftOut);
    addSection("Style values ignored", sceneData.ignored);
    if (sceneData.notShown.length) addSection("Not shown", ["not shown: " + sceneData.notShown.join(", ")]);
  }

  // ---- three.js objects ------------------------------------------------------------------------
  function material(Kind, part, extra) {
    const m = new Kind(Object.assign({ transparent: part.alpha < 1, opacity: part.alpha, depthWrite: part.alpha >= 1 }, extra));
    m.color.setRGB(part.color[0], part.color[1], part.color[2], THREE.SRGBColorSpace);
    return m;
  }

  // primary parts are the ones a click on a structure that the styles hide brings back
  function tag(object, visible, info, primary) {
    object.visible = visible;
    object.userData = { info, primary };
    return object;
  }

  function meshObjects(element, info) {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute("position", new THREE.BufferAttribute(typed(Float32Array, element.positions), 3));
    geometry.setIndex(new THREE.BufferAttribute(indexArray(element, element.faces), 1));
    geometry.setAttribute("normal", new THREE.BufferAttribute(typed(Int8Array, element.normals), 3, true));
    geometry.computeBoundingSphere();
    const s = element.surface;
    const surfaceMaterial = material(THREE.MeshPhongMaterial, s, { shininess: s.shininess, side: THREE.DoubleSide });
    surfaceMaterial.specular.setRGB(s.specular[0], s.specular[1], s.specular[2], THREE.SRGBColorSpace);
    const objects = [tag(new THREE.Mesh(geometry, surfaceMaterial), s.visible, info, true)];
    if (element.wireframe.visible)
      objects.push(tag(new THREE.Mesh(geometry, material(THREE.MeshBasicMaterial, element.wireframe, { wireframe: true })), true, info, false));
    if (element.outline.visible)
      objects.push(tag(new THREE.LineSegments(new THREE.EdgesGeometry(geometry, 30), material(THREE.LineBasicMaterial, element.outline)), true, info, false));
    return objects;
  }

  const sphere = new THREE.SphereGeometry(0.5, 20, 14);
  function keypointObjects(element, info) {
    let object;
    if (element.crosshair) {
      const h = element.size / 2;
      const lines = new THREE.BufferGeometry();
      lines.setAttribute("position", new THREE.Float32BufferAttribute([-h, 0, 0, h, 0, 0, 0, -h, 0, 0, h, 0, 0, 0, -h, 0, 0, h], 3));
      object = new THREE.LineSegments(lines, material(THREE.LineBasicMaterial, element));
    } else {
      object = new THREE.Mesh(sphere, material(THREE.MeshPhongMaterial, element, { specular: 0x000000 }));
      object.scale.setScalar(element.size);
    }
    object.position.fromArray(element.position);
    return [tag(object, element.visible, info, true)];
  }

  function planeObjects(element, info) {
    const normal = new THREE.Vector3().fromArray(element.normal);
    const point = new THREE.Vector3().fromArray(element.point);
    if (element.normalOnly) {
      const arrow = new THREE.ArrowHelper(normal, point, element.normalLength, 0xffffff);
      arrow.line.material = material(THREE.LineBasicMaterial, element);
      arrow.cone.material = material(THREE.MeshBasicMaterial, element);
      return [tag(arrow, element.visible, info, true)];
    }
    const patch = new THREE.Mesh(new THREE.PlaneGeometry(element.patchSize, element.patchSize),
                                 material(THREE.MeshBasicMaterial, element, { side: THREE.DoubleSide }));
    patch.quaternion.setFromUnitVectors(new THREE.Vector3(0, 0, 1), normal);
    patch.position.copy(point);
    return [tag(patch, element.visible, info, true)];
  }

  function pointObjects(positions, indices, part, size, info) {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute("position", new THREE.BufferAttribute(positions, 3));
    if (indices) geometry.setIndex(new THREE.BufferAttribute(indices, 1));
    const points = new THREE.Points(geometry, material(THREE.PointsMaterial, part, { size, sizeAttenuation: true }));
    return tag(points, part.visible, info, true);
  }

  function pointcloudObjects(element, info) {
    return [pointObjects(typed(Float32Array, element.positions), null, element, element.size, info)];
  }

  function graphObjects(element, info) {
    const positions = typed(Float32Array, element.positions);
    const nodes = pointObjects(positions, indexArray(element, element.nodesShown), element.nodes, element.nodes.size, info);
    const lines = new THREE.BufferGeometry();
    lines.setAttribute("position", new THREE.BufferAttribute(positions, 3));
    lines.setIndex(new THREE.BufferAttribute(indexArray(element, element.edges), 1));
    const edges = tag(new THREE.LineSegments(lines, material(THREE.LineBasicMaterial, element.lines)), element.lines.visible, info, true);
    return [nodes, edges];
  }

  const builders = { mesh: meshObjects, keypoint: keypointObjects, plane: planeObjects, pointcloud: pointcloudObjects, graph: graphObjects };

  // ---- labels ----------------------------------------------------------------------------------
  const labels = [];
  function addLabel(text, position, offset, owner) {
    const div = document.createElement("div");
    div.textContent = text;
    labelLayer.appendChild(div);
    labels.push({ div, position: new THREE.Vector3().fromArray(position), offset: offset || [0, 0], owner });
  }

  function elementLabels(element, group, objects) {
    const owner = objects[0];
    if (element.label && element.kind === "keypoint") addLabel(element.label, element.position, element.labelOffset, owner);
    if (element.label && element.kind === "plane") addLabel(element.label, element.point, null, owner);
    if (element.label && element.kind === "pointcloud" && element.labelAt) addLabel(element.label, element.labelAt, null, owner);
    if (element.kind === "graph" && element.nodeLabels) {
      const p = typed(Float32Array, element.positions);
      for (const i of indexArray(element, element.nodesShown)) addLabel(String(i), [p[3 * i], p[3 * i + 1], p[3 * i + 2]], null, owner);
    }
  }

  // ---- the view --------------------------------------------------------------------------------
  function start() {
    const entries = sceneData.structures.map(structureEntry);
    buildPanel(entries);
    if (!sceneData.structures.length) {
      message.textContent = "This collection holds no structures.";
      message.hidden = false;
      return;
    }
    let renderer;
    try {
      // multisampling costs several times the drawing where WebGL runs in software: small scenes only
      const triangles = sceneData.structures.reduce((n, s) => n + s.elements.reduce((m, e) => m + (e.faces ? e.faces[1] / 3 : 0), 0), 0);
      renderer = new THREE.WebGLRenderer({ antialias: triangles < 200000 });
    } catch (error) {
      message.textContent = "This browser cannot draw with WebGL: " + error.message;
      message.hidden = false;
      return;
    }
    renderer.setPixelRatio(window.devicePixelRatio);
    renderer.setClearColor(0x1d1f24);
    view.insertBefore(renderer.domElement, labelLayer);

    const scene = new THREE.Scene();
    const camera = new THREE.PerspectiveCamera(30, 1, sceneData.size / 1000, sceneData.size * 20);
    // light intensities carry a factor pi: a surface that faces the camera shows its colour exactly
    scene.add(new THREE.AmbientLight(0xffffff, 0.35 * Math.PI));
    const headlight = new THREE.DirectionalLight(0xffffff, 0.65 * Math.PI);
    headlight.position.set(0, 0, 0);  // at the camera, shining at the scene's centre
    camera.add(headlight);
    scene.add(camera);
    for (const entry of entries) scene.add(entry.group);
    viewer.timings.built = performance.now();

    const controls = new THREE.OrbitControls(camera, renderer.domElement);
    const drawn = { pending: false };
    function frame() {
      drawn.pending = false;
      renderer.render(scene, camera);
      placeLabels(camera);
      viewer.frames += 1;
      if (viewer.firstFrameMs === null) {
        // reading one pixel waits until the frame is really drawn, also in software rendering
        const gl = renderer.getContext();
        gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
        viewer.firstFrameMs = performance.now();
      }
    }
    function requestFrame() {
      if (!drawn.pending) { drawn.pending = true; requestAnimationFrame(frame); }
    }
    viewer.requestFrame = requestFrame;
    controls.addEventListener("change", requestFrame);

    function resize() {
      const { clientWidth: w, clientHeight: h } = view;
      renderer.setSize(w, h, false);
      camera.aspect = w / Math.max(h, 1);
      camera.updateProjectionMatrix();
      requestFrame();
    }
    window.addEventListener("resize", resize);

    // the camera looks at the patient from the front (anterior, -y), head up (+z)
    const radius = sceneData.size / 2;
    camera.up.set(0, 0, 1);
    resize();
    const fit = Math.min(camera.fov, 2 * THREE.MathUtils.radToDeg(Math.atan(Math.tan(THREE.MathUtils.degToRad(camera.fov / 2)) * camera.aspect)));
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(fit / 2));
    camera.position.set(0, -distance, 0);
    controls.target.set(0, 0, 0);
    controls.update();

    viewer.project = (world) => {
      const p = new THREE.Vector3(world[0] - sceneData.origin[0], world[1] - sceneData.origin[1], world[2] - sceneData.origin[2]).project(camera);
      const box = renderer.domElement.getBoundingClientRect();
      return [box.left + (p.x + 1) / 2 * box.width, box.top + (1 - p.y) / 2 * box.height];
    };
    enableHover(scene, camera, renderer.domElement, entries);
    requestFrame();
  }

  function structureEntry(structure) {
    const group = new THREE.Group();
    const item = document.createElement("li");
    item.className = "structure";
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = cssColour(structure.color);
    const name = document.createElement("span");
    name.textContent = structure.identifier;
    item.append(swatch, name);
    item.title = structure.identifier;
    for (const element of structure.elements) {
      const info = `${structure.identifier} · ${element.store} · ${element.key}`;
      const objects = builders[element.kind](element, info);
      for (const object of objects) group.add(object);
      elementLabels(element, group, objects);
    }
    const entry = { group, item, identifier: structure.identifier };
    const shown = () => group.visible && group.children.some((o) => o.visible);
    entry.shown = shown;
    item.classList.toggle("hidden", !shown());
    item.addEventListener("click", () => {
      if (shown()) group.visible = false;
      else {
        group.visible = true;
        if (!group.children.some((o) => o.visible)) for (const o of group.children) o.visible = o.userData.primary;
      }
      item.classList.toggle("hidden", !shown());
      if (viewer.requestFrame) viewer.requestFrame();
    });
    viewer.structures.push(entry);
    return entry;
  }

  function visibleInScene(object) {
    for (let o = object; o; o = o.parent) if (!o.visible) return false;
    return true;
  }

  function placeLabels(camera) {
    const box = view.getBoundingClientRect();
    const p = new THREE.Vector3();
    for (const label of labels) {
      p.copy(label.position).project(camera);
      const show = visibleInScene(label.owner) && p.z < 1;
      label.div.style.display = show ? "" : "none";
      if (show) {
        const x = (p.x + 1) / 2 * box.width + 6 + label.offset[0];
        const y = (1 - p.y) / 2 * box.height - 6 + label.offset[1];
        label.div.style.transform = `translate(${x}px, ${y}px)`;
      }
    }
  }

  // Hovering asks the ray caster at most every 120 ms: on millions of triangles one cast is slow.
  function enableHover(scene, camera, canvas, entries) {
    const caster = new THREE.Raycaster();
    caster.params.Points.threshold = sceneData.size * 0.004;
    caster.params.Line.threshold = sceneData.size * 0.003;
    let last = null, timer = null;
    function cast() {
      timer = null;
      const box = canvas.getBoundingClientRect();
      const pointer = new THREE.Vector2((last.clientX - box.left) / box.width * 2 - 1, 1 - (last.clientY - box.top) / box.height * 2);
      caster.setFromCamera(pointer, camera);
      const groups = entries.map((e) => e.group).filter((g) => g.visible);
      const hit = caster.intersectObjects(groups, true).find((h) => visibleInScene(h.object));
      let o = hit && hit.object;
      while (o && !(o.userData && o.userData.info)) o = o.parent;
      if (!o) { tip.hidden = true; return; }
      tip.textContent = o.userData.info;
      tip.style.left = `${last.clientX - box.left + 14}px`;
      tip.style.top = `${last.clientY - box.top + 14}px`;
      tip.hidden = false;
    }
    canvas.addEventListener("pointermove", (event) => {
      last = event;
      if (event.buttons) { tip.hidden = true; return; }
      if (timer === null) timer = setTimeout(cast, 120);
    });
    canvas.addEventListener("pointerleave", () => { tip.hidden = true; });
  }

  start();
})();
