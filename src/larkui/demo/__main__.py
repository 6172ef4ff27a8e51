import sys

from larkui.demo.app import main

sys.exit(main())
