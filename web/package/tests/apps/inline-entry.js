// An app on the package's inline entry, for bundlers that cannot follow a worklet's URL.
import * as api from "@orvane/audioeffects/inline";
import { run } from "./common.js";

run(api, new URLSearchParams(location.search).get("app"));
