// The page's modules: eslint's recommended rules, browser globals, and a
// few that keep the code plain.
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["node_modules/**", "eslint.config.js"] },
  js.configs.recommended,
  {
    files: ["**/*.js"],
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: "module",
      globals: { ...globals.browser },
    },
    rules: {
      "eqeqeq": "error",
      "no-var": "error",
      "prefer-const": "error",
      "curly": "error",
      "no-implicit-globals": "error",
      "no-eval": "error",
      "no-implied-eval": "error",
      "max-len": ["error", { code: 110 }],
    },
  },
];
