// An app on the package's default entry, as Vite and webpack build it.
import * as api from "@orvane/audioeffects";
import { run } from "./common.js";

run(api, new URLSearchParams(location.search).get("app"));
