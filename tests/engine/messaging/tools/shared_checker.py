"""The store checker of the shared folder, loaded as a module. It is reached as
../shared/tools/pstcheck from the project's root, wherever the checkout is."""
import importlib.machinery, importlib.util, pathlib

ROOT = pathlib.Path(__file__).resolve().parents[4]
PATH = ROOT.parent / "shared" / "tools" / "pstcheck"


def load_checker():
    if not PATH.exists():
        raise SystemExit(f"the checker is not at {PATH}: ../shared must sit beside the project's root")
    loader = importlib.machinery.SourceFileLoader("pstcheck", str(PATH))
    spec = importlib.util.spec_from_loader("pstcheck", loader)
    mod = importlib.util.module_from_spec(spec)
    loader.exec_module(mod)
    return mod
