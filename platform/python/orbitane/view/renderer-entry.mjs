// What the build bundles into view/three.js: the library and its orbit controls, as one script
// whose global THREE the page uses.
export * from "three";
export { OrbitControls } from "three/addons/controls/OrbitControls.js";
